// The registry in memory: two hives of keys, each key with sorted subkeys and values in
// the order they were created.
#pragma once
#include <windef.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry_names.h"

namespace auralink::platform::registry {

struct Value {
  Name name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

class Key {
 public:
  // Subkeys by folded name, which is also the enumeration order.
  using Subkeys = std::map<std::string, std::unique_ptr<Key>, std::less<>>;

  explicit Key(std::string name) : name_(std::move(name)) {}
  // Takes the subtree apart level by level, so a deep tree cannot exhaust the stack.
  ~Key();
  Key(Key&&) = default;
  Key& operator=(Key&& other) noexcept;

  const std::string& name() const { return name_; }
  const Subkeys& subkeys() const { return subkeys_; }
  const std::vector<Value>& values() const { return values_; }
  bool empty() const { return subkeys_.empty() && values_.empty(); }

  Key* FindSubkey(std::string_view folded);
  const Key* FindSubkey(std::string_view folded) const;
  // The subkey called `name`, created if absent (then `created` is set).
  Key& SubkeyFor(const Name& name, bool& created);
  bool RemoveSubkey(std::string_view folded);

  const Value* FindValue(std::string_view folded) const;
  // A new value goes last; an existing one keeps its place and spelling. False when the
  // value already had this type and data.
  bool SetValue(const Name& name, DWORD type, std::vector<BYTE> data);
  bool RemoveValue(std::string_view folded);
  // Drops all values and subkeys; false when there was nothing to drop.
  bool Clear();

 private:
  // Hashes folded names so that a string_view finds a std::string key.
  struct FoldedHash {
    using is_transparent = void;
    size_t operator()(std::string_view folded) const { return std::hash<std::string_view>()(folded); }
  };

  void DetachSubtrees();

  std::string name_;
  Subkeys subkeys_;
  std::vector<Value> values_;
  // Position of each value in values_, by folded name: keys with many values load in
  // linear time.
  std::unordered_map<std::string, size_t, FoldedHash, std::equal_to<>> valueIndex_;
};

enum class Hive { LocalMachine, CurrentUser };

struct Tree {
  Key localMachine{"HKEY_LOCAL_MACHINE"};
  Key currentUser{"HKEY_CURRENT_USER"};

  Key& Root(Hive hive) { return hive == Hive::LocalMachine ? localMachine : currentUser; }
  const Key& Root(Hive hive) const { return hive == Hive::LocalMachine ? localMachine : currentUser; }
};

// A key by its place: the hive and the key names below it.
struct KeyPath {
  Hive hive = Hive::LocalMachine;
  std::vector<Name> parts;
};

const Key* FindKey(const Tree& tree, const KeyPath& path);
Key* FindKey(Tree& tree, const KeyPath& path);
// Finds or creates every key along the path; `created` tells whether the last was new.
Key& CreateKey(Tree& tree, const KeyPath& path, bool& created);

// The bytes stored for a value: string types always end with a terminating zero, so a
// string set without one reads back terminated.
std::vector<BYTE> StoredData(DWORD type, const BYTE* data, size_t size);

}  // namespace auralink::platform::registry
