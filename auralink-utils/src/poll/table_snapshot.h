// One snapshot of a polled table: every object's key and attribute values, ordered by key,
// kept in blocks of encoded text so that a million objects stay compact; the builder that
// makes one from rows as they are read; and the comparison of two snapshots.
//
// Encoding. A snapshot keeps values, not streams: the column names are the same for every
// object and are put back only when an object is reported. Each object is one record:
// its key part and its attribute part, each length given first. A value is its bytes with
// 0x00, 0x01 and 0x02 escaped (as 0x01 0x01, 0x01 0x02 and 0x01 0x03) and a 0x00 after it;
// an identifier in its upper-case text form is 0x02 and its 16 bytes instead, less than
// half its text. Records thus compare byte by byte as their values compare one by one
// (identifiers among themselves, texts among themselves), and equal only when all their
// values are equal. The attribute part gives, for each table with columns, the number of
// the table's distinct rows for the object, then their values.
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

// Which values of a row are the key and which belong to each table, with their names.
struct SnapshotLayout {
  std::vector<size_t> keyColumns;                 // value positions in a row
  std::vector<std::vector<size_t>> slotColumns;   // per table, in query order
  std::vector<std::string> names;                 // per value position: the column name
  explicit SnapshotLayout(const SnapshotQuery& query);
};

class TableSnapshot {
 public:
  // Groups `rows` (laid out as `query.columns`) by their key values into objects.
  static TableSnapshot Build(const SnapshotQuery& query, const std::vector<TabEntry>& rows);

  size_t Size() const { return entries_.size(); }
  // The key stream ("column=value|" per key column) and the object stream of object `i`,
  // each "|" inside a value written as the stand-in of <auralink/attribute_text.h>.
  std::string Key(size_t i) const;
  std::string Stream(size_t i) const;

 private:
  friend class SnapshotBuilder;
  friend void CompareSnapshots(const TableSnapshot&, const TableSnapshot&,
                               const std::function<bool(TableChange, std::string_view, std::string_view)>&);

  // Where a record starts: its block and its place in the block.
  struct Entry {
    uint32_t block;
    uint32_t offset;
  };
  struct Record {
    std::string_view key;
    std::string_view attributes;
  };
  Record At(const Entry& entry) const;
  // Stores a record whole in the last block, or in a new one when it does not fit. Blocks
  // of a fixed size waste less than one growing buffer, which may hold twice what it needs.
  Entry Store(std::string_view key, std::string_view attributes);
  void AppendKey(std::string& text, std::string_view key) const;
  void AppendStream(std::string& text, std::string_view attributes) const;

  std::shared_ptr<const SnapshotLayout> layout_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t lastBlockUsed_ = 0;
  size_t lastBlockSize_ = 0;
  std::vector<Entry> entries_;  // in key order
};

// Takes a snapshot's rows one at a time, as the data source hands them over, keeping each
// in the snapshot's compact form at once; Finish groups the rows of each object.
class SnapshotBuilder final : public DBManager::RowReceiver {
 public:
  explicit SnapshotBuilder(const SnapshotQuery& query);
  void Restart() override;
  bool Row(const TabEntry& row) override;
  // The snapshot of the rows received since the last Restart; the builder starts afresh.
  TableSnapshot Finish();

 private:
  // A received row: its record, and the first bytes of its key part as a number that
  // orders as the key part does, which settles most comparisons of the sort.
  struct Pending {
    uint64_t prefix;
    TableSnapshot::Entry entry;
  };
  std::shared_ptr<const SnapshotLayout> layout_;
  TableSnapshot snapshot_;
  std::vector<Pending> pending_;
  std::string key_, attributes_, merged_;  // reused for each row
};

// Calls `report` for every object created, modified or deleted from `before` to `after`,
// in key order, with the object's stream in `after` (in `before` for a deletion). Stops
// early when `report` answers false.
using ChangeReport = std::function<bool(TableChange, std::string_view key, std::string_view stream)>;
void CompareSnapshots(const TableSnapshot& before, const TableSnapshot& after, const ChangeReport& report);

}  // namespace auralink::poll
