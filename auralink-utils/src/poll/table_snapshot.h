// One snapshot of a polled table: every object's key stream and object stream, sorted by
// key stream, kept in one block of text so that a million objects stay compact; and the
// comparison of two snapshots.
#pragma once
#include <auralink/db_manager.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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
  std::string_view Key(size_t i) const { return {text_.data() + entries_[i].offset, entries_[i].keyLength}; }
  std::string_view Stream(size_t i) const {
    return {text_.data() + entries_[i].offset + entries_[i].keyLength, entries_[i].streamLength};
  }

 private:
  struct Entry {
    size_t offset;
    uint32_t keyLength;
    uint32_t streamLength;
  };
  std::string text_;
  std::vector<Entry> entries_;
};

// Calls `report` for every object created, modified or deleted from `before` to `after`,
// in key order, with the object's stream in `after` (in `before` for a deletion). Stops
// early when `report` answers false.
using ChangeReport = std::function<bool(TableChange, std::string_view key, std::string_view stream)>;
void CompareSnapshots(const TableSnapshot& before, const TableSnapshot& after, const ChangeReport& report);

}  // namespace auralink::poll
