// The Reg* functions: argument checks and Windows result codes on top of the handle
// table and the shared store.
#include <winreg.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "registry_handles.h"
#include "registry_store.h"

using namespace auralink::platform::registry;

namespace {

LSTATUS Lookup(HKEY handle, OpenKey& key) {
  return HandleTable::Instance().Find(handle, key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

bool Allows(const OpenKey& key, REGSAM needed) { return (key.access & needed) == needed; }

REGSAM Granted(REGSAM desired) { return (desired & MAXIMUM_ALLOWED) ? ~static_cast<REGSAM>(0) : desired; }

// The key a handle stands for: an empty key for a predefined one the file does not hold
// yet, null when the key has been deleted.
const Key* Resolve(const Tree& tree, const OpenKey& key) {
  if (const Key* found = FindKey(tree, key.path)) return found;
  static const Key kEmpty{std::string()};
  return key.predefined ? &kEmpty : nullptr;
}

// The same for a change: a predefined key is created when it is written to.
Key* ResolveForChange(Tree& tree, const OpenKey& key, bool& changed) {
  if (Key* found = FindKey(tree, key.path)) return found;
  if (!key.predefined) return nullptr;
  bool created = false;
  Key& made = CreateKey(tree, key.path, created);
  changed = changed || created;
  return &made;
}

// The key `subKey` below `base`; false if `subKey` is no valid key path or would lie
// deeper than a key can.
bool Below(const OpenKey& base, LPCSTR subKey, REGSAM desired, OpenKey& target) {
  target = base;
  target.access = Granted(desired);
  if (!subKey || !*subKey) return true;
  target.predefined = false;
  return AppendKeyPath(subKey, target.path.parts) == nullptr;
}

std::string_view ValueName(LPCSTR name) { return name ? std::string_view(name) : std::string_view(); }

// Copies a name with its terminating zero when `*chars` leaves room for it.
bool CopyName(const std::string& name, LPSTR buffer, LPDWORD chars) {
  if (name.size() + 1 > *chars) return false;
  std::memcpy(buffer, name.data(), name.size());
  buffer[name.size()] = '\0';
  *chars = static_cast<DWORD>(name.size());
  return true;
}

// Windows' contract for data out parameters: a null buffer asks for the size only.
LSTATUS CopyData(const std::vector<BYTE>& data, LPBYTE buffer, LPDWORD size) {
  if (buffer) {
    if (*size < data.size()) {
      *size = static_cast<DWORD>(data.size());
      return ERROR_MORE_DATA;
    }
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  }
  if (size) *size = static_cast<DWORD>(data.size());
  return ERROR_SUCCESS;
}

void ClearClassAndTime(LPSTR className, LPDWORD classChars, PFILETIME lastWrite) {
  if (className && classChars && *classChars > 0) className[0] = '\0';
  if (classChars) *classChars = 0;
  if (lastWrite) std::memset(static_cast<void*>(lastWrite), 0, 2 * sizeof(DWORD));
}

// Removes the key at `target` (below the still existing `base`), refusing a key with
// subkeys unless `wholeTree` is set.
LSTATUS RemoveKey(const OpenKey& base, const OpenKey& target, bool wholeTree) {
  if (target.predefined || target.path.parts.empty()) return ERROR_ACCESS_DENIED;  // a predefined key itself
  return Store::Instance().Write([&](Tree& tree, bool& changed) -> LSTATUS {
    if (!FindKey(tree, base.path)) return base.predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    KeyPath parentPath = target.path;
    const Name last = parentPath.parts.back();
    parentPath.parts.pop_back();
    Key* parent = FindKey(tree, parentPath);
    const Key* key = parent ? parent->FindSubkey(last.folded) : nullptr;
    if (!key) return ERROR_FILE_NOT_FOUND;
    if (!wholeTree && !key->subkeys().empty()) return ERROR_ACCESS_DENIED;
    parent->RemoveSubkey(last.folded);
    changed = true;
    return ERROR_SUCCESS;
  });
}

// Finds the open key behind a handle and checks that it was opened with `access`.
LSTATUS LookupFor(HKEY handle, REGSAM access, OpenKey& key) {
  const LSTATUS status = Lookup(handle, key);
  if (status != ERROR_SUCCESS) return status;
  return Allows(key, access) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Runs `read` on the key behind a handle opened with `access`, under the store's read lock.
template <typename ReadKey>
LSTATUS ReadOpenKey(HKEY handle, REGSAM access, ReadKey read) {
  OpenKey key;
  const LSTATUS status = LookupFor(handle, access, key);
  if (status != ERROR_SUCCESS) return status;
  return Store::Instance().Read([&](const Tree& tree) -> LSTATUS {
    const Key* target = Resolve(tree, key);
    return target ? read(*target) : ERROR_KEY_DELETED;
  });
}

}  // namespace

extern "C" {

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  OpenKey base, target;
  LSTATUS status = Lookup(hKey, base);
  if (status != ERROR_SUCCESS) return status;
  if (!Below(base, lpSubKey, samDesired, target)) return ERROR_FILE_NOT_FOUND;
  status = Store::Instance().Read([&](const Tree& tree) -> LSTATUS {
    if (!Resolve(tree, base)) return ERROR_KEY_DELETED;
    return Resolve(tree, target) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
  if (status == ERROR_SUCCESS) *phkResult = HandleTable::Instance().Add(std::move(target));
  return status;
}

LSTATUS RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (lpSubKey && *lpSubKey) return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
  OpenKey key;
  const LSTATUS status = Lookup(hKey, key);
  if (status == ERROR_SUCCESS) *phkResult = hKey;  // Windows hands back the same handle
  return status;
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD dwOptions, REGSAM samDesired,
                        LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  if (dwOptions & ~static_cast<DWORD>(REG_OPTION_VOLATILE)) return ERROR_INVALID_PARAMETER;  // no links, no backup mode
  OpenKey base, target;
  LSTATUS status = Lookup(hKey, base);
  if (status != ERROR_SUCCESS) return status;
  if (!Below(base, lpSubKey, samDesired, target)) return ERROR_INVALID_PARAMETER;

  // An existing key is opened without taking the file lock.
  bool exists = false;
  status = Store::Instance().Read([&](const Tree& tree) -> LSTATUS {
    if (!Resolve(tree, base)) return ERROR_KEY_DELETED;
    exists = Resolve(tree, target) != nullptr;
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (!exists) {
    if (!Allows(base, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    status = Store::Instance().Write([&](Tree& tree, bool& changed) -> LSTATUS {
      if (!ResolveForChange(tree, base, changed)) return ERROR_KEY_DELETED;
      bool created = false;
      CreateKey(tree, target.path, created);
      if (created) disposition = REG_CREATED_NEW_KEY;
      changed = changed || created;
      return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
  }
  if (lpdwDisposition) *lpdwDisposition = disposition;
  *phkResult = HandleTable::Instance().Add(std::move(target));
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (lpSubKey && *lpSubKey)
    return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, nullptr, phkResult,
                           nullptr);
  OpenKey key;
  const LSTATUS status = Lookup(hKey, key);
  if (status == ERROR_SUCCESS) *phkResult = hKey;
  return status;
}

LSTATUS RegCloseKey(HKEY hKey) { return HandleTable::Instance().Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE; }

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (!lpData && cbData != 0) return ERROR_NOACCESS;  // Windows faults reading the data
  const std::string_view name = ValueName(lpValueName);
  if (ValueNameFault(name)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  const LSTATUS status = LookupFor(hKey, KEY_SET_VALUE, key);
  if (status != ERROR_SUCCESS) return status;
  const Name valueName = MakeName(name);
  std::vector<BYTE> data = StoredData(dwType, lpData, cbData);
  return Store::Instance().Write([&](Tree& tree, bool& changed) -> LSTATUS {
    Key* target = ResolveForChange(tree, key, changed);
    if (!target) return ERROR_KEY_DELETED;
    if (target->SetValue(valueName, dwType, std::move(data))) changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  const std::string folded = FoldName(ValueName(lpValueName));
  return ReadOpenKey(hKey, KEY_QUERY_VALUE, [&](const Key& target) -> LSTATUS {
    const Value* value = target.FindValue(folded);
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = value->type;
    return CopyData(value->data, lpData, lpcbData);
  });
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  OpenKey key;
  const LSTATUS status = LookupFor(hKey, KEY_SET_VALUE, key);
  if (status != ERROR_SUCCESS) return status;
  const std::string folded = FoldName(ValueName(lpValueName));
  return Store::Instance().Write([&](Tree& tree, bool& changed) -> LSTATUS {
    Key* target = FindKey(tree, key.path);
    if (!target) return key.predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    if (!target->RemoveValue(folded)) return ERROR_FILE_NOT_FOUND;
    changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved) return ERROR_INVALID_PARAMETER;
  return ReadOpenKey(hKey, KEY_ENUMERATE_SUB_KEYS, [&](const Key& target) -> LSTATUS {
    if (dwIndex >= target.subkeys().size()) return ERROR_NO_MORE_ITEMS;
    const Key& subkey = *std::next(target.subkeys().begin(), dwIndex)->second;
    if (!CopyName(subkey.name(), lpName, lpcchName)) return ERROR_MORE_DATA;
    ClearClassAndTime(lpClass, lpcchClass, lpftLastWriteTime);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  return ReadOpenKey(hKey, KEY_QUERY_VALUE, [&](const Key& target) -> LSTATUS {
    if (dwIndex >= target.values().size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = target.values()[dwIndex];
    if (!CopyName(value.name.text, lpValueName, lpcchValueName)) return ERROR_MORE_DATA;
    if (lpType) *lpType = value.type;
    return CopyData(value.data, lpData, lpcbData);
  });
}

LSTATUS RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime) {
  if (lpReserved) return ERROR_INVALID_PARAMETER;
  return ReadOpenKey(hKey, KEY_QUERY_VALUE, [&](const Key& target) -> LSTATUS {
    size_t longestSubkey = 0, longestName = 0, largestData = 0;
    for (const auto& entry : target.subkeys()) longestSubkey = std::max(longestSubkey, entry.second->name().size());
    for (const Value& value : target.values()) {
      longestName = std::max(longestName, value.name.text.size());
      largestData = std::max(largestData, value.data.size());
    }
    if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(target.subkeys().size());
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = static_cast<DWORD>(longestSubkey);
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = static_cast<DWORD>(target.values().size());
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = static_cast<DWORD>(longestName);
    if (lpcbMaxValueLen) *lpcbMaxValueLen = static_cast<DWORD>(largestData);
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    ClearClassAndTime(lpClass, lpcchClass, lpftLastWriteTime);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  OpenKey base, target;
  const LSTATUS status = Lookup(hKey, base);
  if (status != ERROR_SUCCESS) return status;
  if (!Below(base, lpSubKey, 0, target)) return ERROR_FILE_NOT_FOUND;
  return RemoveKey(base, target, false);
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  OpenKey base, target;
  const LSTATUS status = Lookup(hKey, base);
  if (status != ERROR_SUCCESS) return status;
  if (lpSubKey && *lpSubKey) {
    if (!Below(base, lpSubKey, 0, target)) return ERROR_FILE_NOT_FOUND;
    return RemoveKey(base, target, true);
  }
  return Store::Instance().Write([&](Tree& tree, bool& changed) -> LSTATUS {
    Key* key = FindKey(tree, base.path);
    if (!key) return base.predefined ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    changed = key->Clear();
    return ERROR_SUCCESS;
  });
}

}  // extern "C"
