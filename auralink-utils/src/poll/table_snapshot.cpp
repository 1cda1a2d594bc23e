#include "poll/table_snapshot.h"

#include <algorithm>

namespace auralink::poll {

namespace {

// Orders rows by a set of their columns.
struct ColumnsLess {
  const std::vector<TabEntry>& rows;
  const std::vector<size_t>& columns;
  bool operator()(uint32_t a, uint32_t b) const {
    for (size_t column : columns) {
      int order = rows[a].GetAt(column).compare(rows[b].GetAt(column));
      if (order != 0) return order < 0;
    }
    return false;
  }
  bool Equal(uint32_t a, uint32_t b) const {
    for (size_t column : columns)
      if (rows[a].GetAt(column) != rows[b].GetAt(column)) return false;
    return true;
  }
};

constexpr size_t kBlockSize = 1 << 20;

// The first eight bytes of `value`, zero-padded, as a number that orders as the text does.
uint64_t Prefix(const std::string& value) {
  uint64_t prefix = 0;
  for (size_t i = 0; i < 8; ++i)
    prefix = prefix << 8 | (i < value.size() ? static_cast<unsigned char>(value[i]) : 0u);
  return prefix;
}

void AppendField(std::string& text, const std::string& name, size_t copy, const std::string& value) {
  text += name;
  if (copy > 0) {
    text += '#';
    text += std::to_string(copy);
  }
  text += '=';
  text += value;
  text += '|';
}

}  // namespace

TableSnapshot::Entry TableSnapshot::Store(std::string_view key, std::string_view stream) {
  const size_t length = key.size() + stream.size();
  if (blocks_.empty() || lastBlockUsed_ + length > lastBlockSize_) {
    lastBlockSize_ = std::max(kBlockSize, length);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(lastBlockSize_));
    lastBlockUsed_ = 0;
  }
  Entry entry{static_cast<uint32_t>(blocks_.size() - 1), static_cast<uint32_t>(lastBlockUsed_),
              static_cast<uint32_t>(key.size()), static_cast<uint32_t>(stream.size())};
  char* at = blocks_.back().get() + lastBlockUsed_;
  std::copy(key.begin(), key.end(), at);
  std::copy(stream.begin(), stream.end(), at + key.size());
  lastBlockUsed_ += length;
  return entry;
}

TableSnapshot TableSnapshot::Build(const SnapshotQuery& query, const std::vector<TabEntry>& rows) {
  std::vector<size_t> keyColumns;
  std::vector<std::vector<size_t>> slotColumns(query.slotCount);
  for (size_t i = 0; i < query.columns.size(); ++i) {
    if (query.columns[i].key)
      keyColumns.push_back(i);
    else
      slotColumns[query.columns[i].slot].push_back(i);
  }

  // Rows sorted by key. The first eight bytes of the first key value, kept beside each row,
  // settle most comparisons without reaching the values themselves.
  const ColumnsLess byKey{rows, keyColumns};
  std::vector<std::pair<uint64_t, uint32_t>> keyed(rows.size());
  for (uint32_t i = 0; i < rows.size(); ++i)
    keyed[i] = {keyColumns.empty() ? 0 : Prefix(rows[i].GetAt(keyColumns[0])), i};
  std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : byKey(a.second, b.second);
  });
  std::vector<uint32_t> order(rows.size());
  for (size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
  std::vector<std::pair<uint64_t, uint32_t>>().swap(keyed);

  TableSnapshot snapshot;
  snapshot.entries_.reserve(rows.size());
  std::string key, stream;
  std::vector<uint32_t> group;
  for (size_t first = 0; first < order.size();) {
    size_t last = first + 1;
    while (last < order.size() && byKey.Equal(order[first], order[last])) ++last;
    const TabEntry& row = rows[order[first]];

    key.clear();
    for (size_t column : keyColumns) AppendField(key, query.columns[column].column, 0, row.GetAt(column));

    // Each table's distinct rows for this object, in a fixed order so that the numbering
    // of repeated fields does not depend on the order in which the data source sends rows.
    stream.clear();
    for (size_t slot = 0; slot < query.slotCount; ++slot) {
      const std::vector<size_t>& columns = slotColumns[slot];
      if (columns.empty()) continue;
      group.assign(order.begin() + static_cast<std::ptrdiff_t>(first), order.begin() + static_cast<std::ptrdiff_t>(last));
      if (group.size() > 1) {
        const ColumnsLess bySlot{rows, columns};
        std::sort(group.begin(), group.end(), bySlot);
        group.erase(std::unique(group.begin(), group.end(), [&](uint32_t a, uint32_t b) { return bySlot.Equal(a, b); }),
                    group.end());
      }
      size_t copy = 0;
      for (uint32_t member : group) {
        const TabEntry& values = rows[member];
        // A joined table whose values are all empty had no row for this object.
        if (slot > 0 && std::all_of(columns.begin(), columns.end(),
                                    [&](size_t column) { return values.GetAt(column).empty(); }))
          continue;
        for (size_t column : columns) AppendField(stream, query.columns[column].column, copy, values.GetAt(column));
        ++copy;
      }
    }
    snapshot.entries_.push_back(snapshot.Store(key, stream));
    first = last;
  }
  snapshot.entries_.shrink_to_fit();

  // Objects come in the order of their key values, which is already the order of their key
  // streams unless one key value is the beginning of another.
  auto byKeyStream = [&](const Entry& a, const Entry& b) {
    return std::string_view(snapshot.Text(a), a.keyLength) < std::string_view(snapshot.Text(b), b.keyLength);
  };
  if (!std::is_sorted(snapshot.entries_.begin(), snapshot.entries_.end(), byKeyStream))
    std::sort(snapshot.entries_.begin(), snapshot.entries_.end(), byKeyStream);
  return snapshot;
}

void CompareSnapshots(const TableSnapshot& before, const TableSnapshot& after, const ChangeReport& report) {
  size_t b = 0, a = 0;
  while (b < before.Size() || a < after.Size()) {
    int order = b == before.Size() ? 1 : a == after.Size() ? -1 : before.Key(b).compare(after.Key(a));
    bool goOn = true;
    if (order < 0) {
      goOn = report(kRowDeleted, before.Key(b), before.Stream(b));
      ++b;
    } else if (order > 0) {
      goOn = report(kRowCreated, after.Key(a), after.Stream(a));
      ++a;
    } else {
      if (before.Stream(b) != after.Stream(a)) goOn = report(kRowModified, after.Key(a), after.Stream(a));
      ++b;
      ++a;
    }
    if (!goOn) return;
  }
}

}  // namespace auralink::poll
