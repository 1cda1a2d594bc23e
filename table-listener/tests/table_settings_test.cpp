// Reading a table entry into the poller's settings: the default entry of the instance
// agent, the choice of constructor, the condition terms and the missing values.
#include <gtest/gtest.h>
#include <test_sandbox.h>

#include "db_test_repository.h"
#include "table_entries.h"
#include "table_settings.h"

namespace {

using auralink::testing::StandInRepositoryTest;
using dunmere::testing::TableKey;
using dunmere::testing::WriteValues;
using Strings = std::vector<std::string>;

constexpr const char* kAgent = "TestLst";

class TableSettingsTest : public StandInRepositoryTest {
 protected:
  bool Read(const std::string& table, TableSettings& settings) {
    return ReadTableSettings(kAgent, TableKey(kAgent, ""), table, settings);
  }
  // A table entry with its required values.
  void WriteTable(const std::string& table) {
    WriteValues(TableKey(kAgent, table), {{"Database", "dsn"}, {"PollingTabName", "T"}, {"RefreshTime", "5"}});
  }
  void WriteUpdateTable(const std::string& table, const std::string& key, const std::string& name, Strings fields) {
    std::string entry = TableKey(kAgent, table) + "\\OnUpdate\\OnUpdateTables\\" + key;
    WriteValues(entry, {{"OnUpdateTableName", name}});
    for (size_t i = 0; i < fields.size(); ++i) WriteValues(entry + "\\OnUpdateFields", {{"f" + std::to_string(i), fields[i]}});
  }
};

TEST_F(TableSettingsTest, TheInstanceAgentsDefaultEntryNeedsItsConditions) {
  dunmere::testing::WriteManagedObjectsEntry(kAgent, "VAZUV", "60");
  TableSettings settings;
  ASSERT_TRUE(Read("ManagedObjects", settings)) << Trace();
  EXPECT_EQ(settings.dataSource, "VAZUV");
  EXPECT_EQ(settings.tableName, "tng_managedobject");
  EXPECT_EQ(settings.pollInterval, 60);
  EXPECT_EQ(settings.pollingType, "Instances");
  EXPECT_EQ(settings.keyColumns, Strings{"uuid"});
  EXPECT_EQ(settings.modifyColumns, Strings{"date_modify"});
  EXPECT_EQ(settings.selectColumns, (Strings{"uuid", "date_modify"}));
  EXPECT_EQ(settings.updateTables, (Strings{"tng_inclusion", "tng_managedobject", "tng_status"}));
  EXPECT_EQ(settings.updateFields,
            (Strings{"tng_inclusion.parent_class", "tng_inclusion.parent_uuid", "tng_managedobject.name",
                     "tng_managedobject.label", "tng_managedobject.address", "tng_managedobject.address_type",
                     "tng_managedobject.severity", "tng_managedobject.date_ins", "tng_managedobject.class_name",
                     "tng_managedobject.date_modify", "tng_status.status_text"}));
  EXPECT_EQ(settings.updateConditions, (Strings{"tng_managedobject.uuid", "tng_inclusion.child_uuid",
                                                "tng_managedobject.status_no", "tng_status.status_no"}));
  EXPECT_TRUE(settings.NeedsConditions());
}

TEST_F(TableSettingsTest, OnlyOneUpdateTableWithoutConditionsTakesTheShortForm) {
  WriteTable("None");
  WriteTable("One");
  WriteUpdateTable("One", "U", "T", {"NAME"});
  WriteTable("Two");
  WriteUpdateTable("Two", "U1", "T", {});
  WriteUpdateTable("Two", "U2", "V", {});
  TableSettings none, one, two;
  ASSERT_TRUE(Read("None", none));
  ASSERT_TRUE(Read("One", one));
  ASSERT_TRUE(Read("Two", two));
  EXPECT_TRUE(none.NeedsConditions());
  EXPECT_FALSE(one.NeedsConditions());
  EXPECT_EQ(one.updateFields, Strings{"T.NAME"});
  EXPECT_TRUE(two.NeedsConditions());
  EXPECT_EQ(none.pollingType, "Instances");
}

TEST_F(TableSettingsTest, AConditionNeedsBothTableNamesButSideTwoMayBeEmpty) {
  // Side 2 without a table name gives a bare value; without the value itself, no settings.
  WriteTable("C");
  std::string condition = TableKey(kAgent, "C") + "\\OnUpdate\\OnUpdateConditions\\Q";
  WriteValues(condition + "\\OnUpdateConditionTable1", {{"ConditionTableName1", "A"}});
  WriteValues(condition + "\\OnUpdateConditionTable1\\OnUpdateConditionField1", {{"n", "F"}});
  TableSettings incomplete;
  EXPECT_FALSE(Read("C", incomplete));
  EXPECT_NE(Trace().find("onUpdConditionTable2 cannot be obtained for listening (agent TestLst)"), std::string::npos);

  WriteValues(condition + "\\OnUpdateConditionTable2", {{"ConditionTableName2", ""}});
  WriteValues(condition + "\\OnUpdateConditionTable2\\OnUpdateConditionField2", {{"n", "5"}});
  TableSettings conditioned;
  ASSERT_TRUE(Read("C", conditioned));
  EXPECT_EQ(conditioned.updateConditions, (Strings{"A.F", "5"}));
  EXPECT_TRUE(conditioned.NeedsConditions());
}

}  // namespace
