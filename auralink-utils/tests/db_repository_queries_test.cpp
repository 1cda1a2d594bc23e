// The repository discovery's query texts, made by its own query builders, through DBManager against a generated
// repository, compared with what SQL Server returns for the same data: identifiers in
// uniqueidentifier text form, every value as text, NULL as the empty text.
#include <auralink/db_manager.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <guiddef.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <set>

#include "db/sqlite_dialect.h"
#include "repository_queries.h"
#include "db_test_repository.h"
#include <auralink/platform/guid_text.h>

namespace {

using auralink::testing::ProgramFolder;
using auralink::testing::SqliteFile;
using auralink::testing::StandInRepositoryTest;
using Rows = std::vector<TabEntry>;
using namespace quillon;
using Columns = std::vector<std::string>;

static_assert(std::endian::native == std::endian::little,
              "the oracle reads a GUID's first three fields in memory order");


// SQL Server shows 16 bytes as a GUID whose first three fields are little-endian numbers.
std::string SqlServerText(const std::string& bytes) {
  GUID guid;
  std::memcpy(&guid, bytes.data(), sizeof guid);
  return auralink::platform::GuidToString(guid, false);
}

std::string Text(const std::string& value) { return value == "<NULL>" ? "" : value; }

// What SQL Server would answer, worked out from the file directly.
struct Oracle {
  struct Object {
    std::string id;  // uniqueidentifier text
    std::string className;
    std::vector<std::string> fields;  // name .. date_modify, as text
    std::string statusNo;
  };
  std::vector<Object> objects;
  std::map<std::string, std::string> statusText;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> parents;  // id -> (class, id)

  explicit Oracle(const std::string& path) {
    SqliteFile file(path);
    for (auto& row : file.Rows("SELECT status_no, status_text FROM tng_status")) statusText[row[0]] = row[1];
    for (auto& row : file.Rows("SELECT uuid, name, label, address, address_type, class_name, severity, date_ins, "
                               "date_modify, status_no FROM tng_managedobject")) {
      Object object{SqlServerText(row[0]), row[5], {}, row[9]};
      for (size_t i = 1; i <= 8; ++i) object.fields.push_back(Text(row[i]));
      objects.push_back(std::move(object));
    }
    for (auto& row : file.Rows("SELECT child_uuid, parent_class, parent_uuid FROM tng_inclusion"))
      parents[SqlServerText(row[0])].emplace_back(row[1], SqlServerText(row[2]));
  }

  Rows WithParents(const Object& object) const {
    Rows rows;
    auto status = statusText.find(object.statusNo);
    auto found = parents.find(object.id);
    if (status == statusText.end() || found == parents.end()) return rows;
    for (const auto& [parentClass, parentId] : found->second) {
      std::vector<std::string> values = object.fields;
      values.insert(values.end(), {status->second, parentClass, parentId});
      rows.emplace_back(values);
    }
    return rows;
  }

  Rows WithoutParents(const Object& object) const {
    auto status = statusText.find(object.statusNo);
    if (status == statusText.end()) return {};
    std::vector<std::string> values = object.fields;
    values.push_back(status->second);
    return {TabEntry(values)};
  }

  Rows Ids(const std::set<std::string>& classes) const {
    Rows rows;
    for (const Object& object : objects)
      if (classes.count(object.className)) rows.emplace_back(std::vector<std::string>{object.id});
    return rows;
  }
};

Rows Sorted(Rows rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

const Columns kObjectColumns = {"name",     "label",    "address",     "address_type", "class_name",
                                "severity", "date_ins", "date_modify", "status_text"};

class RepositoryQueries : public StandInRepositoryTest {
 protected:
  void SetUp() override {
    StandInRepositoryTest::SetUp();
    database_ = Generate(400, 2024);
    dsn_ = Register(database_);
    oracle_ = std::make_unique<Oracle>(database_);
  }

  std::string database_;
  std::string dsn_;
  std::unique_ptr<Oracle> oracle_;
  Rows rows_;
  Columns columns_;
};

TEST_F(RepositoryQueries, EnumerateIdentifiersAsSqlServerDoes) {
  DBManager db(dsn_.c_str(), kUuidQuery, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  std::set<std::string> allClasses;
  for (const auto& object : oracle_->objects) allClasses.insert(object.className);
  ASSERT_GE(allClasses.size(), 10u);

  ASSERT_EQ(db.MakeQuery(kUuidQuery, rows_, columns_), 0);
  EXPECT_EQ(columns_, Columns{"uuid"});
  EXPECT_EQ(Sorted(rows_), Sorted(oracle_->Ids(allClasses)));

  std::set<std::string> someClasses = {"Router", "Printer", "WindowsServer"};
  std::map<std::string, CGenericClass> listed;
  for (const auto& name : someClasses) listed[name];
  ASSERT_EQ(db.MakeQuery(AllClassesUuidQuery(listed), rows_, columns_), 0);
  EXPECT_EQ(columns_, Columns{"uuid"});
  EXPECT_EQ(Sorted(rows_), Sorted(oracle_->Ids(someClasses)));

  ASSERT_EQ(db.MakeQuery(OneClassUuidQuery("Router"), rows_, columns_), 0);
  EXPECT_FALSE(rows_.empty());
  EXPECT_EQ(Sorted(rows_), Sorted(oracle_->Ids({"Router"})));

  // Class names are compared exactly.
  ASSERT_EQ(db.MakeQuery(OneClassUuidQuery("router"), rows_, columns_), 0);
  EXPECT_TRUE(rows_.empty());
  EXPECT_EQ(columns_, Columns{"uuid"});
}

// Under the discovery's own data-source name. (Only here: unixODBC remembers a data
// source's entry for the life of the process.)
TEST_F(RepositoryQueries, FetchEveryObjectAsSqlServerDoes) {
  Register(database_, "VAZUV");
  DBManager db("VAZUV", kUuidQuery, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  Columns withParentsColumns = kObjectColumns;
  withParentsColumns.insert(withParentsColumns.end(), {"parent_class", "parent_uuid"});
  std::map<size_t, int> parentCounts;
  int unreadable = 0;
  for (const auto& object : oracle_->objects) {
    ASSERT_EQ(db.MakeQuery(ObjectWithParentsQuery(object.id), rows_, columns_), 0) << object.id;
    EXPECT_EQ(columns_, withParentsColumns);
    EXPECT_EQ(Sorted(rows_), Sorted(oracle_->WithParents(object))) << object.id;
    ++parentCounts[rows_.size()];
    if (!rows_.empty()) continue;
    ASSERT_EQ(db.MakeQuery(ObjectWithoutParentsQuery(object.id), rows_, columns_), 0) << object.id;
    EXPECT_EQ(columns_, kObjectColumns);
    EXPECT_EQ(rows_, oracle_->WithoutParents(object)) << object.id;
    if (rows_.empty()) ++unreadable;
  }
  // The repository holds every case the discovery must handle.
  for (size_t parents = 0; parents <= 3; ++parents) EXPECT_GT(parentCounts[parents], 0) << parents << " parents";
  EXPECT_GT(unreadable, 0) << "objects whose status has no text";
}

TEST_F(RepositoryQueries, ReadIdentifiersInEitherCaseAndRefuseOthers) {
  std::string callerText;
  DBManager db(dsn_.c_str(), kUuidQuery, &callerText);
  ASSERT_EQ(db.OpenDb(), 0);
  const auto& object = oracle_->objects[5];
  std::string lower = object.id;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  ASSERT_EQ(db.MakeQuery(ObjectWithoutParentsQuery(lower), rows_, columns_), 0);
  EXPECT_EQ(rows_, oracle_->WithoutParents(object));

  for (const char* bad : {"not-a-guid", "", "6F9619FF-8B86-D011-B42D-00C04FC964F"}) {
    EXPECT_NE(db.MakeQuery(ObjectWithParentsQuery(bad), rows_, columns_), 0) << bad;
    EXPECT_NE(callerText.find("Conversion failed when converting from a character string to uniqueidentifier."),
              std::string::npos)
        << callerText;
  }
  // An apostrophe inside the identifier breaks the statement itself.
  EXPECT_NE(db.MakeQuery(ObjectWithParentsQuery("O'Brien"), rows_, columns_), 0);
}

// One object is read by its uuid and joined with its parents: every step must be an index
// lookup, or a discovery of many objects would scan the tables once per object.
TEST_F(RepositoryQueries, FetchUsesIndexesOnly) {
  SqliteFile file(database_);
  sqlite3_enable_load_extension(file.Handle(), 1);
  std::string module = ProgramFolder() + "/../lib/auralink_sqlite_dialect.so";
  ASSERT_EQ(sqlite3_load_extension(file.Handle(), module.c_str(), nullptr, nullptr), SQLITE_OK);
  const std::string id = oracle_->objects[0].id;
  for (const std::string& query : {ObjectWithParentsQuery(id), ObjectWithoutParentsQuery(id)}) {
    std::string sql = auralink::db::TranslateConvertForSqlite(query);
    auto plan = file.Rows("EXPLAIN QUERY PLAN " + sql);
    ASSERT_FALSE(plan.empty());
    for (const auto& step : plan) EXPECT_EQ(step.back().find("SCAN"), std::string::npos) << step.back();
  }
}

}  // namespace
