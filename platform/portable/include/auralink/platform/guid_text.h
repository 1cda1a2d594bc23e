// The registry string forms of GUIDs.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace auralink::platform {
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case hex), or without braces.
std::string GuidToString(REFGUID guid, bool withBraces = true);
// Accepts the 36-character form with or without braces, either letter case.
bool GuidFromString(std::string_view text, GUID& guid);
}  // namespace auralink::platform
