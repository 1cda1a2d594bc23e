// Small helpers for the registry tests: keys that close themselves and typed values.
#pragma once
#include <windows.h>
#include <winreg.h>

#include <optional>
#include <string>
#include <vector>

namespace registry_test {

class ScopedKey {
 public:
  ScopedKey() = default;
  explicit ScopedKey(HKEY key) : key_(key) {}
  ~ScopedKey() {
    if (key_) RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }
  operator HKEY() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

inline LSTATUS Create(HKEY parent, const char* path, ScopedKey& key, DWORD* disposition = nullptr) {
  return RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.out(),
                         disposition);
}

inline LSTATUS Open(HKEY parent, const char* path, ScopedKey& key, REGSAM access = KEY_ALL_ACCESS) {
  return RegOpenKeyExA(parent, path, 0, access, key.out());
}

inline LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

inline LSTATUS SetDword(HKEY key, const char* name, DWORD number) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

// The raw bytes and type of a value, or nothing when the query fails.
struct Data {
  DWORD type = 0;
  std::vector<BYTE> bytes;
};
inline std::optional<Data> Query(HKEY key, const char* name) {
  Data data;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &data.type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  data.bytes.resize(size);
  if (RegQueryValueExA(key, name, nullptr, &data.type, data.bytes.data(), &size) != ERROR_SUCCESS) return std::nullopt;
  data.bytes.resize(size);
  return data;
}

// A REG_SZ value without its terminating zero.
inline std::optional<std::string> GetString(HKEY key, const char* name) {
  const auto data = Query(key, name);
  if (!data || data->type != REG_SZ || data->bytes.empty() || data->bytes.back() != 0) return std::nullopt;
  return std::string(data->bytes.begin(), data->bytes.end() - 1);
}

inline std::optional<DWORD> GetDword(HKEY key, const char* name) {
  DWORD number = 0, size = sizeof number, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof number)
    return std::nullopt;
  return number;
}

inline std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  return names;
}

inline std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  char name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  return names;
}

}  // namespace registry_test
