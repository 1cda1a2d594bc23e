// Per-thread failure texts and small registry reads shared by the COM runtime.
#include <algorithm>
#include <string>

#include <auralink/platform/error_text.h>

#include "com_internal.h"

namespace {
thread_local std::string comFailureText;
}  // namespace

namespace auralink::platform {

const char* LastComFailureText() { return comFailureText.c_str(); }

namespace com {

void SetComFailureText(std::string text) { comFailureText = std::move(text); }

bool ReadDefaultString(HKEY root, const std::string& path, std::string& value, LONG* error) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (result == ERROR_SUCCESS) {
    DWORD type = 0;
    DWORD bytes = 0;
    result = RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &bytes);
    if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) result = ERROR_INVALID_DATA;
    if (result == ERROR_SUCCESS) {
      std::string buffer(bytes, '\0');
      result = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &bytes);
      if (result == ERROR_SUCCESS) {
        buffer.resize(std::min<size_t>(bytes, buffer.size()));
        while (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
        value = std::move(buffer);
      }
    }
    RegCloseKey(key);
  }
  if (error) *error = result;
  return result == ERROR_SUCCESS;
}

}  // namespace com
}  // namespace auralink::platform
