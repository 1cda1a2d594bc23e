#include "registry_tree.h"

#include <winreg.h>

#include <algorithm>

namespace auralink::platform::registry {

Key* Key::FindSubkey(std::string_view folded) {
  const auto it = subkeys_.find(folded);
  return it == subkeys_.end() ? nullptr : it->second.get();
}

const Key* Key::FindSubkey(std::string_view folded) const {
  const auto it = subkeys_.find(folded);
  return it == subkeys_.end() ? nullptr : it->second.get();
}

Key& Key::SubkeyFor(const Name& name, bool& created) {
  auto [it, inserted] = subkeys_.try_emplace(name.folded);
  if (inserted) it->second = std::make_unique<Key>(name.text);
  created = inserted;
  return *it->second;
}

bool Key::RemoveSubkey(std::string_view folded) {
  const auto it = subkeys_.find(folded);
  if (it == subkeys_.end()) return false;
  subkeys_.erase(it);
  return true;
}

const Value* Key::FindValue(std::string_view folded) const {
  const auto it = std::find_if(values_.begin(), values_.end(), [&](const Value& v) { return v.name.folded == folded; });
  return it == values_.end() ? nullptr : &*it;
}

bool Key::SetValue(const Name& name, DWORD type, std::vector<BYTE> data) {
  const auto it =
      std::find_if(values_.begin(), values_.end(), [&](const Value& v) { return v.name.folded == name.folded; });
  if (it == values_.end()) {
    values_.push_back(Value{name, type, std::move(data)});
    return true;
  }
  if (it->type == type && it->data == data) return false;
  it->type = type;
  it->data = std::move(data);
  return true;
}

bool Key::RemoveValue(std::string_view folded) {
  const auto it = std::find_if(values_.begin(), values_.end(), [&](const Value& v) { return v.name.folded == folded; });
  if (it == values_.end()) return false;
  values_.erase(it);
  return true;
}

bool Key::Clear() {
  if (empty()) return false;
  subkeys_.clear();
  values_.clear();
  return true;
}

const Key* FindKey(const Tree& tree, const KeyPath& path) {
  const Key* key = &tree.Root(path.hive);
  for (const Name& part : path.parts) {
    key = key->FindSubkey(part.folded);
    if (!key) return nullptr;
  }
  return key;
}

Key* FindKey(Tree& tree, const KeyPath& path) {
  return const_cast<Key*>(FindKey(static_cast<const Tree&>(tree), path));
}

Key& CreateKey(Tree& tree, const KeyPath& path, bool& created) {
  Key* key = &tree.Root(path.hive);
  created = false;
  for (const Name& part : path.parts) key = &key->SubkeyFor(part, created);
  return *key;
}

std::vector<BYTE> StoredData(DWORD type, const BYTE* data, size_t size) {
  std::vector<BYTE> stored(data, data + size);
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && (stored.empty() || stored.back() != 0)) stored.push_back(0);
  return stored;
}

}  // namespace auralink::platform::registry
