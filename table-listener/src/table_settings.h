// The settings of one polled table, read from its entry under the agent's
// "DBListening\PollingTables" key: what a table poller is constructed from.
#pragma once
#include <string>
#include <vector>

struct TableSettings {
  std::string dataSource;
  std::string tableName;
  int pollInterval = 0;
  std::string pollingType;
  std::vector<std::string> keyColumns;
  std::vector<std::string> modifyColumns;
  std::vector<std::string> selectColumns;  // the key columns, then the modify columns
  std::vector<std::string> updateTables;
  std::vector<std::string> updateFields;      // "table.column"
  std::vector<std::string> updateConditions;  // per condition: side 1's terms, then side 2's

  // One update table and no condition need no query construction from conditions.
  bool NeedsConditions() const { return !(updateConditions.empty() && updateTables.size() == 1); }
};

// Reads the entry `table` below `tablesKey` for the agent, tracing each setting found.
// False, after tracing which required value is missing, when the entry is incomplete. The
// caller's subkey enumeration of `tablesKey` runs on: it is put aside around the nested
// ones and resumed.
bool ReadTableSettings(const std::string& agentName, const std::string& tablesKey, const std::string& table,
                       TableSettings& settings);
