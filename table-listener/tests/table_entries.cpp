#include "table_entries.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>

namespace dunmere::testing {

namespace config = auralink::config;

std::string TableKey(const std::string& agent, const std::string& table) {
  return config::PollingTableKey(agent, table);
}

void WriteValues(const std::string& key, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, data] : values) CConfRepositoryManager::GetInstance()->SetStr(key.c_str(), name.c_str(), data.c_str());
}

void WriteManagedObjectsEntry(const std::string& agent, const std::string& dataSource, const std::string& refreshTime) {
  const std::string entry = TableKey(agent, "ManagedObjects");
  const std::string tables = config::JoinKey(entry, "OnUpdate", "OnUpdateTables");
  const std::string conditions = config::JoinKey(entry, "OnUpdate", "OnUpdateConditions");
  WriteValues(entry, {{"Database", dataSource}, {"PollingTabName", "tng_managedobject"}, {"RefreshTime", refreshTime},
                      {"PollingType", "Instances"}});
  WriteValues(config::JoinKey(entry, "PrimaryKey"), {{"pkField1", "uuid"}});
  WriteValues(config::JoinKey(entry, "PollForModify"), {{"pollModifyField1", "date_modify"}});
  WriteValues(config::JoinKey(tables, "ManagedObjectTable"), {{"OnUpdateTableName", "tng_managedobject"}});
  WriteValues(config::JoinKey(tables, "ManagedObjectTable", "OnUpdateFields"),
              {{"onUpdField1", "name"}, {"onUpdField2", "label"}, {"onUpdField3", "address"},
               {"onUpdField4", "address_type"}, {"onUpdField6", "severity"}, {"onUpdField7", "date_ins"},
               {"onUpdField8", "class_name"}, {"onUpdField9", "date_modify"}});
  WriteValues(config::JoinKey(tables, "InclusionTable"), {{"OnUpdateTableName", "tng_inclusion"}});
  WriteValues(config::JoinKey(tables, "InclusionTable", "OnUpdateFields"),
              {{"onUpdField1", "parent_class"}, {"onUpdField2", "parent_uuid"}});
  WriteValues(config::JoinKey(tables, "StatusTable"), {{"OnUpdateTableName", "tng_status"}});
  WriteValues(config::JoinKey(tables, "StatusTable", "OnUpdateFields"), {{"onUpdField1", "status_text"}});
  struct Side {
    const char* condition;
    const char* table1;
    const char* field1;
    const char* table2;
    const char* field2;
  };
  for (const Side& side : {Side{"Condition2", "tng_managedobject", "uuid", "tng_inclusion", "child_uuid"},
                           Side{"Condition3", "tng_managedobject", "status_no", "tng_status", "status_no"}}) {
    std::string one = config::JoinKey(conditions, side.condition, "OnUpdateConditionTable1");
    std::string two = config::JoinKey(conditions, side.condition, "OnUpdateConditionTable2");
    WriteValues(one, {{"ConditionTableName1", side.table1}});
    WriteValues(config::JoinKey(one, "OnUpdateConditionField1"), {{"ConditionFieldName1", side.field1}});
    WriteValues(two, {{"ConditionTableName2", side.table2}});
    WriteValues(config::JoinKey(two, "OnUpdateConditionField2"), {{"ConditionFieldName2", side.field2}});
  }
}

}  // namespace dunmere::testing
