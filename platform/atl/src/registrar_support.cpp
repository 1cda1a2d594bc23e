#include "registrar_support.h"

#include <statreg.h>

namespace {
thread_local std::string registrarErrorText;
}  // namespace

namespace auralink::platform {

const char* LastRegistrarErrorText() { return registrarErrorText.c_str(); }

namespace com {

void SetRegistrarErrorText(std::string text) { registrarErrorText = std::move(text); }

const char* RootKeyName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  return "HKEY";
}

bool ReadDefaultText(HKEY root, const std::string& path, std::string& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  char text[512] = {};
  DWORD type = 0;
  DWORD size = sizeof text - 1;
  const LONG result = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return false;
  value = text;
  return true;
}

}  // namespace com
}  // namespace auralink::platform
