#include "poll/table_snapshot.h"

#include <algorithm>
#include <numeric>

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
  bool Equal(uint32_t a, uint32_t b) const { return !(*this)(a, b) && !(*this)(b, a); }
};

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

TableSnapshot TableSnapshot::Build(const SnapshotQuery& query, const std::vector<TabEntry>& rows) {
  std::vector<size_t> keyColumns;
  std::vector<std::vector<size_t>> slotColumns(query.slotCount);
  for (size_t i = 0; i < query.columns.size(); ++i) {
    if (query.columns[i].key)
      keyColumns.push_back(i);
    else
      slotColumns[query.columns[i].slot].push_back(i);
  }

  std::vector<uint32_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0u);
  const ColumnsLess byKey{rows, keyColumns};
  std::sort(order.begin(), order.end(), byKey);

  TableSnapshot snapshot;
  std::string stream;
  std::vector<uint32_t> group;
  for (size_t first = 0; first < order.size();) {
    size_t last = first + 1;
    while (last < order.size() && byKey.Equal(order[first], order[last])) ++last;
    const TabEntry& row = rows[order[first]];

    Entry entry{snapshot.text_.size(), 0, 0};
    for (size_t column : keyColumns) AppendField(snapshot.text_, query.columns[column].column, 0, row.GetAt(column));
    entry.keyLength = static_cast<uint32_t>(snapshot.text_.size() - entry.offset);

    // Each table's distinct rows for this object, in a fixed order so that the numbering
    // of repeated fields does not depend on the order in which the data source sends rows.
    stream.clear();
    for (size_t slot = 0; slot < query.slotCount; ++slot) {
      const std::vector<size_t>& columns = slotColumns[slot];
      if (columns.empty()) continue;
      group.assign(order.begin() + static_cast<std::ptrdiff_t>(first), order.begin() + static_cast<std::ptrdiff_t>(last));
      const ColumnsLess bySlot{rows, columns};
      std::sort(group.begin(), group.end(), bySlot);
      group.erase(std::unique(group.begin(), group.end(), [&](uint32_t a, uint32_t b) { return bySlot.Equal(a, b); }),
                  group.end());
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
    snapshot.text_ += stream;
    entry.streamLength = static_cast<uint32_t>(stream.size());
    snapshot.entries_.push_back(entry);
    first = last;
  }

  std::sort(snapshot.entries_.begin(), snapshot.entries_.end(), [&](const Entry& a, const Entry& b) {
    return std::string_view(snapshot.text_.data() + a.offset, a.keyLength) <
           std::string_view(snapshot.text_.data() + b.offset, b.keyLength);
  });
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
