#include "table_settings.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>

#include <cstdlib>
#include <functional>

namespace config = auralink::config;

namespace {

constexpr const char* kComponent = "Dunmere";
constexpr DWORD kValueSize = 260;

// A string value; false when absent.
bool ReadString(const std::string& keyPath, const char* name, std::string& value) {
  char buffer[kValueSize] = {};
  DWORD size = kValueSize;
  if (!CConfRepositoryManager::GetInstance()->ReadStr(keyPath.c_str(), name, nullptr, buffer, &size)) return false;
  value = buffer;
  return true;
}

// The data of every value of a list key, in enumeration order; the value names only tell
// the entries apart.
void ForEachListEntry(const std::string& keyPath, const std::function<void(const std::string&)>& use) {
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  repository->InitializeParameterEnumeration(keyPath.c_str());
  char name[kValueSize], data[kValueSize];
  while (repository->EnumerateParameter(name, data, kValueSize)) use(data);
  repository->TerminateParameterEnumeration();
}

// The names of the subkeys of `keyPath`, read while the caller's enumeration of
// `outerKey` is put aside.
std::vector<std::string> SubkeyNames(const std::string& outerKey, const std::string& keyPath) {
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  const bool nested = repository->PreserveSubSetEnumeration(outerKey.c_str());
  repository->InitializeSubSetEnumeration(keyPath.c_str());
  std::vector<std::string> names;
  char name[kValueSize];
  while (repository->EnumerateSubSet(name, kValueSize)) names.emplace_back(name);
  if (nested)
    repository->RestoreSubSetEnumeration(outerKey.c_str());
  else
    repository->TerminateSubSetEnumeration();
  return names;
}

std::string Qualified(const std::string& table, const std::string& column) {
  return table.empty() ? column : table + "." + column;
}

// One side of a condition: its table name (required, may be empty) and its fields.
bool ReadConditionSide(const std::string& agent, const std::string& conditionKey, int side,
                       std::vector<std::string>& terms) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  const bool first = side == 1;
  std::string sideKey = config::JoinKey(conditionKey, first ? config::kOnUpdateConditionTable1Key
                                                            : config::kOnUpdateConditionTable2Key);
  std::string table;
  if (!ReadString(sideKey, first ? config::kConditionTableName1 : config::kConditionTableName2, table)) {
    trace->LogMsg(0, kComponent, "onUpdConditionTable%d cannot be obtained for listening (agent %s)", side,
                  agent.c_str());
    return false;
  }
  trace->LogMsg(1, kComponent, "onUpdConditionTable%d has been obtained (onUpdConditionTable%d = %s, agent %s)", side,
                side, table.c_str(), agent.c_str());
  ForEachListEntry(config::JoinKey(sideKey, first ? config::kOnUpdateConditionField1Key
                                                  : config::kOnUpdateConditionField2Key),
                   [&](const std::string& field) {
                     trace->LogMsg(1, kComponent, "The %s onUpdConditionField%d has been gotten (agent %s)",
                                   field.c_str(), side, agent.c_str());
                     // Side 1 always names its table; an empty side-2 table leaves a bare value.
                     terms.push_back(first ? table + "." + field : Qualified(table, field));
                   });
  return true;
}

}  // namespace

bool ReadTableSettings(const std::string& agentName, const std::string& tablesKey, const std::string& table,
                       TableSettings& settings) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  const char* agent = agentName.c_str();
  const std::string tableKey = config::JoinKey(tablesKey, table);
  auto missing = [&](const char* what) {
    trace->LogMsg(0, kComponent, "%s cannot be obtained for listening to table %s (agent %s)", what, table.c_str(),
                  agent);
    return false;
  };

  if (!ReadString(tableKey, config::kDatabase, settings.dataSource)) return missing("DSN");
  trace->LogMsg(1, kComponent, "DSN for the table %s has been obtained (dsn = %s, agent %s)", table.c_str(),
                settings.dataSource.c_str(), agent);
  if (!ReadString(tableKey, config::kPollingTabName, settings.tableName)) return missing("PollingTableName");
  trace->LogMsg(1, kComponent,
                "PollingTableName for the table %s has been obtained (PollingTableName = %s, agent %s)",
                table.c_str(), settings.tableName.c_str(), agent);
  std::string refreshTime;
  if (!ReadString(tableKey, config::kRefreshTime, refreshTime)) return missing("PollingTime");
  settings.pollInterval = std::atoi(refreshTime.c_str());
  trace->LogMsg(1, kComponent, "PollingTime for the table %s has been obtained (PollingTime = %d, agent %s)",
                table.c_str(), settings.pollInterval, agent);
  if (!ReadString(tableKey, config::kPollingType, settings.pollingType)) {
    settings.pollingType = config::kDefaultPollingType;
    trace->LogMsg(1, kComponent, "PollingType cannot be obtained for listening to table %s (agent %s). It will be set to %s",
                  table.c_str(), agent, config::kDefaultPollingType);
  }

  ForEachListEntry(config::JoinKey(tableKey, config::kPrimaryKeyKey), [&](const std::string& column) {
    trace->LogMsg(1, kComponent, "The %s primary key has been gotten (agent %s)", column.c_str(), agent);
    settings.keyColumns.push_back(column);
    settings.selectColumns.push_back(column);
  });

  const std::string tablesOfUpdate = config::JoinKey(tableKey, config::kOnUpdateKey, config::kOnUpdateTablesKey);
  for (const std::string& name : SubkeyNames(tablesKey, tablesOfUpdate)) {
    std::string updateKey = config::JoinKey(tablesOfUpdate, name);
    std::string updateTable;
    if (!ReadString(updateKey, config::kOnUpdateTableName, updateTable)) {
      trace->LogMsg(0, kComponent, "onUpdTable cannot be obtained for listening (agent %s)", agent);
      return false;
    }
    settings.updateTables.push_back(updateTable);
    trace->LogMsg(1, kComponent, "onUpdTable has been obtained (onUpdTable = %s, agent %s)", updateTable.c_str(), agent);
    ForEachListEntry(config::JoinKey(updateKey, config::kOnUpdateFieldsKey), [&](const std::string& field) {
      trace->LogMsg(1, kComponent, "The %s onUpdField has been gotten (agent %s)", field.c_str(), agent);
      settings.updateFields.push_back(updateTable + "." + field);
    });
  }

  const std::string conditions = config::JoinKey(tableKey, config::kOnUpdateKey, config::kOnUpdateConditionsKey);
  for (const std::string& name : SubkeyNames(tablesKey, conditions)) {
    std::string conditionKey = config::JoinKey(conditions, name);
    if (!ReadConditionSide(agentName, conditionKey, 1, settings.updateConditions) ||
        !ReadConditionSide(agentName, conditionKey, 2, settings.updateConditions))
      return false;
  }

  ForEachListEntry(config::JoinKey(tableKey, config::kPollForModifyKey), [&](const std::string& column) {
    trace->LogMsg(1, kComponent, "The %s pollForModifyfield has been gotten (agent %s)", column.c_str(), agent);
    settings.modifyColumns.push_back(column);
    settings.selectColumns.push_back(column);
  });
  return true;
}
