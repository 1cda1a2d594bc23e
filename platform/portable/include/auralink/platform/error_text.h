// Texts that say why a system call failed, for trace lines and messages.
#pragma once
#include <windows.h>

#include <string>

namespace auralink::platform {
// The Win32 error code for an errno value (ENOENT -> ERROR_FILE_NOT_FOUND, ...).
DWORD Win32ErrorFromErrno(int errnoValue);
// The system text of a code without its line end; "Unknown error" for codes it lacks.
std::string ErrorMessageText(DWORD code);
// "<code>: <text>" for GetLastError().
std::string LastErrorText();
// Why the calling thread's last LoadLibraryA or GetProcAddress failed; empty when none did.
std::string LastLoaderErrorText();
// Why the last CoCreateInstance/CoGetClassObject of this thread failed (Linux: the module
// path and the loader's message, or the missing registry key; Windows: empty, the HRESULT
// says it).
const char* LastComFailureText();
// Why the last registry call of this thread failed on the registry file itself (Linux);
// empty when none has, and always on Windows.
const char* LastRegistryErrorText();
// Where the registry is kept: the registry file on Linux (AURALINK_REGISTRY or the default
// path), "the Windows registry" on Windows.
std::string RegistryFilePath();
}  // namespace auralink::platform
