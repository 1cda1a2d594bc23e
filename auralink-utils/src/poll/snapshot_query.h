// The snapshot query of a table poller: the SQL that reads the polled table with its update
// tables, and the layout of its result (which table and column each value comes from).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace auralink::poll {

struct SnapshotColumn {
  std::string table;   // the table the value comes from
  std::string column;  // the column, which names the field in the streams
  bool key = false;    // key columns come first in the layout
  size_t slot = 0;     // the table's place in the query: 0 for the polled table, then the joined ones
};

struct SnapshotQuery {
  std::string sql;
  std::vector<SnapshotColumn> columns;  // in select-list order
  size_t keyCount = 0;
  size_t slotCount = 1;
  std::string warning;  // a setting that was left out, for the trace; empty when none

  // "table.column" for each value of a row.
  std::vector<std::string> QualifiedNames() const;
};

// polledTable: the table whose rows are the objects. selectColumns and keyColumns: its
// columns (qualified or not); without key columns every selected column is part of the key.
// updateTables, updateFields ("table.column") and updateConditions (pairs of terms) as the
// table poller's constructors receive them.
SnapshotQuery BuildSnapshotQuery(const std::string& polledTable, const std::vector<std::string>& selectColumns,
                                 const std::vector<std::string>& keyColumns,
                                 const std::vector<std::string>& updateTables,
                                 const std::vector<std::string>& updateFields,
                                 const std::vector<std::string>& updateConditions);

}  // namespace auralink::poll
