// Shared by the registrar, the module object and the type-library registration.
#pragma once
#include <windows.h>

#include <string>

namespace auralink::platform::com {

// The text behind LastRegistrarErrorText of the calling thread.
void SetRegistrarErrorText(std::string text);

// "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", ... for messages.
const char* RootKeyName(HKEY root);

// The default text value of root\path; false when the key or a text value is missing.
bool ReadDefaultText(HKEY root, const std::string& path, std::string& value);

}  // namespace auralink::platform::com
