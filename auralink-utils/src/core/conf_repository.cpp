#include <windows.h>
#include <atlbase.h>
#include <auralink/conf_repository.h>
#include <auralink/trace_utils.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>



namespace {

constexpr const char* kComponent = "ConfRepository";

// A subkey enumeration: the names are taken when it starts, so writers elsewhere cannot
// shift it and no key stays open between calls.
struct SubSetEnumeration {
  bool active = false;
  std::string keyPath;
  std::vector<std::string> names;
  size_t next = 0;
};

struct ParameterEnumeration {
  bool active = false;
  std::vector<std::pair<std::string, std::string>> values;  // name, data as text
  size_t next = 0;
};

// Every thread enumerates on its own: polling threads read the tree side by side.
struct ThreadEnumerations {
  SubSetEnumeration subSet;
  std::vector<SubSetEnumeration> preserved;
  ParameterEnumeration parameters;
};
thread_local ThreadEnumerations t_enumerations;

// Key paths compare as the registry compares names: case-insensitive, without trailing "\".
std::string NormalizedPath(const char* keyPath) {
  std::string path = keyPath ? keyPath : "";
  while (!path.empty() && path.back() == '\\') path.pop_back();
  std::transform(path.begin(), path.end(), path.begin(), [](unsigned char c) { return std::tolower(c); });
  return path;
}

// Copies text into a caller's buffer of `size` bytes, cutting it if it does not fit.
void CopyOut(const std::string& text, char* buffer, DWORD size) {
  if (!buffer || size == 0) return;
  size_t length = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

// The raw data of a value; false when the key or value is absent.
bool QueryValue(const char* keyPath, const char* name, DWORD* type, std::vector<BYTE>* data) {
  CRegKey key;
  if (!keyPath || key.Open(HKEY_LOCAL_MACHINE, keyPath, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
  DWORD bytes = 0;
  if (RegQueryValueExA(key.m_hKey, name, nullptr, type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  for (;;) {
    data->resize(std::max<DWORD>(bytes, 1));  // never empty, so the buffer pointer is real
    DWORD received = static_cast<DWORD>(data->size());
    LSTATUS status = RegQueryValueExA(key.m_hKey, name, nullptr, type, data->data(), &received);
    if (status == ERROR_SUCCESS) {
      data->resize(received);
      return true;
    }
    if (status != ERROR_MORE_DATA) return false;
    bytes = received;  // the value grew since it was measured
  }
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The text of string data up to its first zero (stored data need not be terminated).
std::string StringData(const std::vector<BYTE>& data) {
  const char* text = reinterpret_cast<const char*>(data.data());
  return std::string(text, strnlen(text, data.size()));
}

std::string ValueAsText(DWORD type, const std::vector<BYTE>& data) {
  if (IsStringType(type)) return StringData(data);
  if (type == REG_DWORD && data.size() >= sizeof(DWORD)) {
    DWORD number;
    std::memcpy(&number, data.data(), sizeof number);
    return std::to_string(number);
  }
  return std::string();
}

bool SetValue(const char* keyPath, const char* name, DWORD type, const BYTE* data, DWORD bytes) {
  if (!keyPath || !name) return false;
  CRegKey key;
  LSTATUS status = key.Create(HKEY_LOCAL_MACHINE, keyPath);
  if (status == ERROR_SUCCESS) status = RegSetValueExA(key.m_hKey, name, 0, type, data, bytes);
  if (status != ERROR_SUCCESS) {
    CTraceUtils::GetInstance()->LogMsg(2, kComponent, "Unable to set the value %s of the key %s (error %ld)", name,
                                       keyPath, static_cast<long>(status));
    return false;
  }
  return true;
}

std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  std::vector<char> name(256);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    LSTATUS status = RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) {
      name.resize(name.size() * 2);
      --index;
      continue;
    }
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), length);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> ValuesAsText(HKEY key) {
  std::vector<std::pair<std::string, std::string>> values;
  DWORD maxName = 0;
  DWORD maxData = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData, nullptr,
                   nullptr);
  std::vector<char> name(maxName + 1);
  std::vector<BYTE> data(maxData + 1);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    LSTATUS status =
        RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataBytes);
    if (status == ERROR_MORE_DATA) {  // grew since the key was measured
      name.resize(name.size() * 2 + 256);
      data.resize(std::max<size_t>(data.size() * 2, dataBytes + 1));
      --index;
      continue;
    }
    if (status != ERROR_SUCCESS) break;
    std::vector<BYTE> valueData(data.begin(), data.begin() + dataBytes);
    values.emplace_back(std::string(name.data(), nameLength), ValueAsText(type, valueData));
  }
  return values;
}

}  // namespace

CConfRepositoryManager* CConfRepositoryManager::GetInstance() {
  // Never destroyed: polling threads may still read while the process ends.
  static CConfRepositoryManager* instance = new CConfRepositoryManager();
  return instance;
}

int CConfRepositoryManager::ReadStr(const char* keyPath, const char* name, DWORD* type, char* value, DWORD* size) {
  if (!value) return 0;
  DWORD valueType = REG_NONE;
  std::vector<BYTE> data;
  if (!QueryValue(keyPath, name, &valueType, &data) || !IsStringType(valueType)) return 0;
  std::string text = StringData(data);
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  DWORD available = size ? *size : MAX_PATH;
  if (size) *size = needed;
  if (needed > available) return 0;
  std::memcpy(value, text.c_str(), needed);
  if (type) *type = valueType;
  return 1;
}

int CConfRepositoryManager::ReadNum(const char* keyPath, const char* name, DWORD* type, DWORD* value, DWORD* size) {
  if (!value) return 0;
  DWORD valueType = REG_NONE;
  std::vector<BYTE> data;
  if (!QueryValue(keyPath, name, &valueType, &data) || valueType != REG_DWORD || data.size() != sizeof(DWORD))
    return 0;
  DWORD available = size ? *size : sizeof(DWORD);
  if (size) *size = sizeof(DWORD);
  if (available < sizeof(DWORD)) return 0;
  std::memcpy(value, data.data(), sizeof(DWORD));
  if (type) *type = valueType;
  return 1;
}

int CConfRepositoryManager::SetStr(const char* keyPath, const char* name, const char* value) {
  const char* text = value ? value : "";
  return SetValue(keyPath, name, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(std::strlen(text) + 1))
             ? 1
             : 0;
}

int CConfRepositoryManager::SetNum(const char* keyPath, const char* name, DWORD value) {
  return SetValue(keyPath, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ? 1 : 0;
}

int CConfRepositoryManager::InitializeSubSetEnumeration(const char* keyPath) {
  SubSetEnumeration& enumeration = t_enumerations.subSet;
  enumeration = SubSetEnumeration{};
  enumeration.active = true;
  enumeration.keyPath = NormalizedPath(keyPath);
  CRegKey key;
  if (!keyPath || key.Open(HKEY_LOCAL_MACHINE, keyPath, KEY_ENUMERATE_SUB_KEYS) != ERROR_SUCCESS) return 0;
  enumeration.names = SubkeyNames(key.m_hKey);
  return 1;
}

int CConfRepositoryManager::EnumerateSubSet(char* name, DWORD size) {
  SubSetEnumeration& enumeration = t_enumerations.subSet;
  if (!enumeration.active || enumeration.next >= enumeration.names.size() || !name) return 0;
  CopyOut(enumeration.names[enumeration.next++], name, size);
  return 1;
}

int CConfRepositoryManager::TerminateSubSetEnumeration() {
  bool wasActive = t_enumerations.subSet.active;
  t_enumerations.subSet = SubSetEnumeration{};
  return wasActive ? 1 : 0;
}

int CConfRepositoryManager::PreserveSubSetEnumeration(const char* keyPath) {
  SubSetEnumeration& enumeration = t_enumerations.subSet;
  if (!enumeration.active || enumeration.keyPath != NormalizedPath(keyPath)) return 0;
  t_enumerations.preserved.push_back(std::move(enumeration));
  enumeration = SubSetEnumeration{};
  return 1;
}

int CConfRepositoryManager::RestoreSubSetEnumeration(const char* keyPath) {
  std::vector<SubSetEnumeration>& preserved = t_enumerations.preserved;
  std::string path = NormalizedPath(keyPath);
  auto found = std::find_if(preserved.rbegin(), preserved.rend(),
                            [&path](const SubSetEnumeration& enumeration) { return enumeration.keyPath == path; });
  if (found == preserved.rend()) return 0;
  // Entries above the one restored were left behind by nested runs that never restored.
  auto position = std::prev(found.base());
  t_enumerations.subSet = std::move(*position);
  preserved.erase(position, preserved.end());
  return 1;
}

int CConfRepositoryManager::InitializeParameterEnumeration(const char* keyPath) {
  ParameterEnumeration& enumeration = t_enumerations.parameters;
  enumeration = ParameterEnumeration{};
  enumeration.active = true;
  CRegKey key;
  if (!keyPath || key.Open(HKEY_LOCAL_MACHINE, keyPath, KEY_QUERY_VALUE) != ERROR_SUCCESS) return 0;
  enumeration.values = ValuesAsText(key.m_hKey);
  return 1;
}

int CConfRepositoryManager::EnumerateParameter(char* first, char* second, DWORD size) {
  ParameterEnumeration& enumeration = t_enumerations.parameters;
  if (!enumeration.active || enumeration.next >= enumeration.values.size() || !first || !second) return 0;
  const auto& [name, text] = enumeration.values[enumeration.next++];
  CopyOut(name, first, size);
  CopyOut(text, second, size);
  return 1;
}

int CConfRepositoryManager::TerminateParameterEnumeration() {
  bool wasActive = t_enumerations.parameters.active;
  t_enumerations.parameters = ParameterEnumeration{};
  return wasActive ? 1 : 0;
}
