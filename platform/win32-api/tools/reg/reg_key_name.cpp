#include "reg_key_name.h"

#include <strings.h>

#include <cstring>

namespace auralink::reg {

namespace {

struct Root {
  const char* shortName;
  const char* fullName;
  HKEY handle;
};

const Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
};

bool EqualsIgnoringCase(std::string_view a, const char* b) {
  return a.size() == strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

}  // namespace

KeyName KeyName::Child(const std::string& name) const {
  KeyName child = *this;
  child.path = path.empty() ? name : path + "\\" + name;
  return child;
}

bool ParseKeyName(std::string_view text, KeyName& key, std::string& reason) {
  const size_t slash = text.find('\\');
  const std::string_view rootText = text.substr(0, slash);
  for (const Root& root : kRoots) {
    if (EqualsIgnoringCase(rootText, root.shortName) || EqualsIgnoringCase(rootText, root.fullName)) {
      key.root = root.handle;
      key.rootName = root.fullName;
      std::string_view rest = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
      while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
      key.path = std::string(rest);
      return true;
    }
  }
  reason = "\"" + std::string(text) +
           "\" names no key: it must start with HKLM, HKCU or HKCR (or HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, "
           "HKEY_CLASSES_ROOT)";
  return false;
}

}  // namespace auralink::reg
