// One snapshot of a polled table: every object's key stream and object stream, sorted by
// key stream, kept in one block of text so that a million objects stay compact; and the
// comparison of two snapshots.
#pragma once
#include <auralink/db_manager.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "poll/snapshot_query.h"

namespace auralink::poll {

enum TableChange : short { kRowCreated = 1, kRowModified = 2, kRowDeleted = 3 };

class TableSnapshot {
 public:
  // Groups `rows` (laid out as `query.columns`) by their key values into objects.
  static TableSnapshot Build(const SnapshotQuery& query, const std::vector<TabEntry>& rows);

  size_t Size() const { return entries_.size(); }
  std::string_view Key(size_t i) const { return {Text(entries_[i]), entries_[i].keyLength}; }
  std::string_view Stream(size_t i) const {
    return {Text(entries_[i]) + entries_[i].keyLength, entries_[i].streamLength};
  }

 private:
  // An object's key stream followed by its object stream, in one block of text.
  struct Entry {
    uint32_t block;
    uint32_t offset;
    uint32_t keyLength;
    uint32_t streamLength;
  };
  const char* Text(const Entry& entry) const { return blocks_[entry.block].get() + entry.offset; }
  // Stores `text` whole in the last block, or in a new one when it does not fit. Blocks of
  // a fixed size waste less than one growing buffer, which may hold twice what it needs.
  Entry Store(std::string_view key, std::string_view stream);

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t lastBlockUsed_ = 0;
  size_t lastBlockSize_ = 0;
  std::vector<Entry> entries_;
};

// Calls `report` for every object created, modified or deleted from `before` to `after`,
// in key order, with the object's stream in `after` (in `before` for a deletion). Stops
// early when `report` answers false.
using ChangeReport = std::function<bool(TableChange, std::string_view key, std::string_view stream)>;
void CompareSnapshots(const TableSnapshot& before, const TableSnapshot& after, const ChangeReport& report);

}  // namespace auralink::poll
