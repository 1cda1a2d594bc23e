#include "poll/snapshot_query.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace auralink::poll {

namespace {

// SQL names compare without regard to letter case, as both SQL Server and SQLite do.
bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// "table.column" -> table; empty for a bare term (a column of the polled table, or a value
// such as 5, 2.5 or 'text').
std::string TableOf(const std::string& term) {
  size_t dot = term.rfind('.');
  if (dot == std::string::npos || term.empty()) return std::string();
  unsigned char first = static_cast<unsigned char>(term[0]);
  if (std::isdigit(first) || first == '\'' || first == '-' || first == '+') return std::string();
  return term.substr(0, dot);
}

std::string ColumnOf(const std::string& term) {
  size_t dot = term.rfind('.');
  return dot == std::string::npos ? term : term.substr(dot + 1);
}

struct Join {
  std::string table;
  std::vector<std::string> conditions;
};

}  // namespace

std::vector<std::string> SnapshotQuery::QualifiedNames() const {
  std::vector<std::string> names;
  names.reserve(columns.size());
  for (const SnapshotColumn& column : columns) names.push_back(column.table + "." + column.column);
  return names;
}

SnapshotQuery BuildSnapshotQuery(const std::string& polledTable, const std::vector<std::string>& selectColumns,
                                 const std::vector<std::string>& keyColumns,
                                 const std::vector<std::string>& updateTables,
                                 const std::vector<std::string>& updateFields,
                                 const std::vector<std::string>& updateConditions) {
  SnapshotQuery query;
  std::vector<Join> joins;
  auto slotOf = [&](const std::string& table) -> size_t {
    if (table.empty() || SameName(table, polledTable)) return 0;
    for (size_t i = 0; i < joins.size(); ++i)
      if (SameName(joins[i].table, table)) return i + 1;
    joins.push_back({table, {}});
    return joins.size();
  };
  for (const std::string& table : updateTables) slotOf(table);

  // Each value once, keys first. A column is the same whether qualified or not.
  auto add = [&](const std::string& term, bool key) {
    std::string table = TableOf(term);
    size_t slot = slotOf(table);
    SnapshotColumn column{slot == 0 ? polledTable : joins[slot - 1].table, ColumnOf(term), key, slot};
    for (const SnapshotColumn& known : query.columns)
      if (known.slot == column.slot && SameName(known.column, column.column)) return;
    query.columns.push_back(std::move(column));
  };
  const std::vector<std::string>& keys = keyColumns.empty() ? selectColumns : keyColumns;
  for (const std::string& key : keys) add(key, true);
  query.keyCount = query.columns.size();
  for (const std::string& column : selectColumns) add(column, false);
  for (const std::string& field : updateFields) add(field, false);

  // Conditions, two terms each: to the join of the last-joined table they name, or, when
  // they name none, to the filter of the polled table.
  std::vector<std::string> filters;
  for (size_t i = 0; i + 1 < updateConditions.size(); i += 2) {
    const std::string& left = updateConditions[i];
    const std::string& right = updateConditions[i + 1];
    size_t slot = std::max(slotOf(TableOf(left)), slotOf(TableOf(right)));
    std::string condition = "(" + left + " = " + right + ")";
    if (slot == 0)
      filters.push_back(condition);
    else
      joins[slot - 1].conditions.push_back(condition);
  }
  if (updateConditions.size() % 2 != 0)
    query.warning = "the condition term " + updateConditions.back() + " has no partner and is left out";
  query.slotCount = joins.size() + 1;

  std::string& sql = query.sql;
  sql = "SELECT ";
  for (size_t i = 0; i < query.columns.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += query.columns[i].table + "." + query.columns[i].column;
  }
  sql += " FROM " + polledTable;
  for (const Join& join : joins) {
    std::vector<std::string> conditions = join.conditions;
    if (conditions.empty()) {
      // A table without a condition holds rows keyed like the polled table.
      for (size_t k = 0; k < query.keyCount; ++k) {
        const std::string& key = query.columns[k].column;
        conditions.push_back("(" + polledTable + "." + key + " = " + join.table + "." + key + ")");
      }
    }
    sql += " LEFT OUTER JOIN " + join.table + " ON ";
    if (conditions.empty()) conditions.push_back("(1 = 1)");
    for (size_t i = 0; i < conditions.size(); ++i) sql += (i > 0 ? " AND " : "") + conditions[i];
  }
  for (size_t i = 0; i < filters.size(); ++i) sql += (i == 0 ? " WHERE " : " AND ") + filters[i];
  return query;
}

}  // namespace auralink::poll
