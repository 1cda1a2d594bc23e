// Environment variables and the temporary folder. The process environment is shared
// state without a lock of its own in the C library, so these functions take one.
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "win32_result.h"

namespace {

std::mutex& EnvironmentMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

// Windows names are case-insensitive: an exact match first, then any spelling.
std::optional<std::string> FindVariable(const char* name) {
  if (const char* exact = std::getenv(name)) return std::string(exact);
  const size_t length = std::strlen(name);
  for (char** entry = environ; entry && *entry; ++entry) {
    if (strncasecmp(*entry, name, length) == 0 && (*entry)[length] == '=') return std::string(*entry + length + 1);
  }
  return std::nullopt;
}

bool IsValidName(const char* name) { return name && *name && !std::strchr(name, '='); }

}  // namespace

using auralink::platform::detail::CopyOutOrRequiredSize;

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  if (!IsValidName(lpName)) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::optional<std::string> value;
  {
    std::lock_guard<std::mutex> lock(EnvironmentMutex());
    value = FindVariable(lpName);
  }
  if (!value) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  if (value->empty()) {
    // Set but empty: 0, told apart from "not set" by the last error.
    if (lpBuffer && nSize > 0) lpBuffer[0] = '\0';
    SetLastError(ERROR_SUCCESS);
    return 0;
  }
  return CopyOutOrRequiredSize(*value, lpBuffer, nSize);
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
  if (!IsValidName(lpName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(EnvironmentMutex());
  int result = lpValue ? setenv(lpName, lpValue, 1) : unsetenv(lpName);
  if (result != 0) {
    auralink::platform::detail::SetLastErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(EnvironmentMutex());
    const char* tmpdir = std::getenv("TMPDIR");
    path = tmpdir && *tmpdir ? tmpdir : "/tmp";
  }
  if (path.back() != '/') path += '/';
  return CopyOutOrRequiredSize(path, lpBuffer, nBufferLength);
}
