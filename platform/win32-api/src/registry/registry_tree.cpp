#include "registry_tree.h"

#include <winreg.h>

#include <cstddef>

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

Key::~Key() { DetachSubtrees(); }

Key& Key::operator=(Key&& other) noexcept {
  if (this != &other) {
    DetachSubtrees();
    name_ = std::move(other.name_);
    subkeys_ = std::move(other.subkeys_);
    values_ = std::move(other.values_);
    valueIndex_ = std::move(other.valueIndex_);
  }
  return *this;
}

// Empties subkeys_ without recursion: every key below is moved onto one list and freed
// only once its own subkeys have been moved off it.
void Key::DetachSubtrees() {
  std::vector<std::unique_ptr<Key>> pending;
  const auto take = [&pending](Subkeys& subkeys) {
    for (auto& entry : subkeys) pending.push_back(std::move(entry.second));
    subkeys.clear();
  };
  take(subkeys_);
  while (!pending.empty()) {
    std::unique_ptr<Key> key = std::move(pending.back());
    pending.pop_back();
    take(key->subkeys_);
  }
}

const Value* Key::FindValue(std::string_view folded) const {
  const auto it = valueIndex_.find(folded);
  return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

bool Key::SetValue(const Name& name, DWORD type, std::vector<BYTE> data) {
  const auto [it, inserted] = valueIndex_.try_emplace(name.folded, values_.size());
  if (inserted) {
    values_.push_back(Value{name, type, std::move(data)});
    return true;
  }
  Value& value = values_[it->second];
  if (value.type == type && value.data == data) return false;
  value.type = type;
  value.data = std::move(data);
  return true;
}

bool Key::RemoveValue(std::string_view folded) {
  const auto it = valueIndex_.find(folded);
  if (it == valueIndex_.end()) return false;
  const size_t position = it->second;
  valueIndex_.erase(it);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
  for (size_t i = position; i < values_.size(); ++i) valueIndex_[values_[i].name.folded] = i;
  return true;
}

bool Key::Clear() {
  if (empty()) return false;
  DetachSubtrees();
  values_.clear();
  valueIndex_.clear();
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
  // Empty data stays empty, as on Windows.
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && !stored.empty() && stored.back() != 0) stored.push_back(0);
  return stored;
}

}  // namespace auralink::platform::registry
