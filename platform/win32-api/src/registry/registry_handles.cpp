#include "registry_handles.h"

namespace auralink::platform::registry {

namespace {

constexpr REGSAM kAllAccess = ~static_cast<REGSAM>(0);

bool FindPredefined(HKEY handle, OpenKey& key) {
  if (handle == HKEY_LOCAL_MACHINE) {
    key = OpenKey{KeyPath{Hive::LocalMachine, {}}, kAllAccess, true};
  } else if (handle == HKEY_CURRENT_USER) {
    key = OpenKey{KeyPath{Hive::CurrentUser, {}}, kAllAccess, true};
  } else if (handle == HKEY_CLASSES_ROOT) {
    key = OpenKey{KeyPath{Hive::LocalMachine, {MakeName("SOFTWARE"), MakeName("Classes")}}, kAllAccess, true};
  } else {
    return false;
  }
  return true;
}

}  // namespace

HandleTable& HandleTable::Instance() {
  static HandleTable* const table = new HandleTable;  // never destroyed, like the store
  return *table;
}

HKEY HandleTable::Add(OpenKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uintptr_t id = next_;
  next_ += 0x10;
  keys_.emplace(id, std::move(key));
  return reinterpret_cast<HKEY>(id);
}

bool HandleTable::Find(HKEY handle, OpenKey& key) const {
  if (FindPredefined(handle, key)) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = keys_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == keys_.end()) return false;
  key = it->second;
  return true;
}

bool HandleTable::Remove(HKEY handle) {
  OpenKey predefined;
  if (FindPredefined(handle, predefined)) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  return keys_.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

}  // namespace auralink::platform::registry
