// A key as given on the command line: a root ("HKLM", "HKEY_LOCAL_MACHINE", "HKCU",
// "HKEY_CURRENT_USER", "HKCR", "HKEY_CLASSES_ROOT", in any case) and the path below it.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace auralink::reg {

struct KeyName {
  HKEY root = nullptr;
  std::string rootName;  // the root's full name, "HKEY_LOCAL_MACHINE"
  std::string path;      // below the root without leading or trailing "\", may be empty

  // The full name, as the tool prints it: "HKEY_LOCAL_MACHINE\SOFTWARE\Kestrova".
  std::string Full() const { return path.empty() ? rootName : rootName + "\\" + path; }
  // The key `name` below this one.
  KeyName Child(const std::string& name) const;
};

// False with the reason when `text` names no root the registry holds.
bool ParseKeyName(std::string_view text, KeyName& key, std::string& reason);

}  // namespace auralink::reg
