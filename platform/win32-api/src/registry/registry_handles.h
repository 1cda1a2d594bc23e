// Open registry keys. An HKEY names a key by its path, so it stays valid when another
// process rewrites the file; it is checked against a table, so a stale or made-up handle
// is refused rather than followed.
#pragma once
#include <winreg.h>

#include <mutex>
#include <unordered_map>

#include "registry_tree.h"

namespace auralink::platform::registry {

struct OpenKey {
  KeyPath path;
  REGSAM access = 0;
  // A predefined key exists even when the file holds nothing for it yet.
  bool predefined = false;
};

class HandleTable {
 public:
  static HandleTable& Instance();

  HKEY Add(OpenKey key);
  // The key behind a handle, predefined ones included; false for an unknown handle.
  bool Find(HKEY handle, OpenKey& key) const;
  // False for an unknown handle; predefined keys are never closed.
  bool Remove(HKEY handle);

 private:
  HandleTable() = default;

  mutable std::mutex mutex_;
  std::unordered_map<uintptr_t, OpenKey> keys_;
  uintptr_t next_ = 0x10000;
};

}  // namespace auralink::platform::registry
