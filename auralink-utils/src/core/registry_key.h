// An open registry key that closes itself.
#pragma once
#include <windows.h>

namespace auralink::core {

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  LSTATUS Open(HKEY parent, const char* path, REGSAM access) {
    Close();
    return RegOpenKeyExA(parent, path, 0, access, &key_);
  }
  // Opens the key, creating every missing component of the path.
  LSTATUS Create(HKEY parent, const char* path) {
    Close();
    return RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key_,
                           nullptr);
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace auralink::core
