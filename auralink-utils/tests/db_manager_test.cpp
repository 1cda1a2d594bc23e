// DBManager against generated stand-in repositories through unixODBC and SQLite's driver.
#include <auralink/db_manager.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "db/odbc_connection.h"
#include "db_test_repository.h"

// Reaches the connection underneath, to break its link as a network failure would.
struct DBManagerTestAccess {
  static void BreakLink(DBManager& db) { db.connection_->BreakLinkForTesting(); }
  static size_t PreparedCount(DBManager& db) { return db.connection_->PreparedCount(); }
};

namespace {

using auralink::testing::SqliteFile;
using auralink::testing::StandInRepositoryTest;
using Rows = std::vector<TabEntry>;
using Columns = std::vector<std::string>;

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) out += {kHex[b >> 4], kHex[b & 0xF]};
  return out;
}

class DBManagerTest : public StandInRepositoryTest {
 protected:
  void SetUp() override {
    StandInRepositoryTest::SetUp();
    database_ = Generate(300, 11);
    dsn_ = Register(database_);
  }

  std::string database_;
  std::string dsn_;
  Rows rows_;
  Columns columns_;
};

TEST_F(DBManagerTest, NamesColumnsByAliasAndWithoutTablePrefix) {
  DBManager db(dsn_.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  ASSERT_EQ(db.MakeQuery("SELECT A.name, A.label AS caption, B.status_text, CONVERT(uniqueidentifier, A.uuid) AS id "
                         "FROM tng_managedobject AS A, tng_status AS B WHERE A.status_no = B.status_no",
                         rows_, columns_),
            0);
  EXPECT_EQ(columns_, (Columns{"name", "caption", "status_text", "id"}));
  ASSERT_FALSE(rows_.empty());
  EXPECT_EQ(rows_[0].GetSize(), 4u);
}

TEST_F(DBManagerTest, GivesEveryValueAsTextNullAsEmptyAndBinaryAsHex) {
  SqliteFile file(database_);
  // An agent: no address, and a label that may be NULL elsewhere; pick rows of both kinds.
  auto expected = file.Rows(
      "SELECT uuid, name, label, address, address_type, severity, date_ins FROM tng_managedobject "
      "WHERE label IS NULL OR address IS NULL ORDER BY rowid LIMIT 20");
  ASSERT_FALSE(expected.empty());
  DBManager db(dsn_.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  for (const auto& row : expected) {
    std::string id = Hex(row[0]);
    ASSERT_EQ(db.MakeQuery("SELECT uuid, name, label, address, address_type, severity, date_ins "
                           "FROM tng_managedobject WHERE uuid = X'" +
                               id + "'",
                           rows_, columns_),
              0);
    ASSERT_EQ(rows_.size(), 1u);
    const TabEntry& got = rows_[0];
    EXPECT_EQ(got[0], id);  // a binary column
    for (size_t i = 1; i < 7; ++i) EXPECT_EQ(got[i], row[i] == "<NULL>" ? "" : row[i]) << columns_[i];
    EXPECT_EQ(got.GetAt(99), "");
  }
}

// Only what the driver describes as binary becomes hexadecimal: a label that merely looks
// like a binary literal is text, and the poller reads user tables full of such text.
TEST_F(DBManagerTest, KeepsTextThatLooksLikeABinaryLiteral) {
  SqliteFile file(database_);
  ASSERT_TRUE(file.Exec("CREATE TABLE labels (label VARCHAR(20), b BLOB);"
                        "INSERT INTO labels VALUES ('X''CAFE''', X'CAFE'), ('x''00''', X'00')"));
  DBManager db(dsn_.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  ASSERT_EQ(db.MakeQuery("SELECT label, b, label || '' AS expression FROM labels ORDER BY rowid", rows_, columns_), 0);
  ASSERT_EQ(rows_.size(), 2u);
  EXPECT_EQ(rows_[0].Values(), (Columns{"X'CAFE'", "CAFE", "X'CAFE'"}));
  EXPECT_EQ(rows_[1].Values(), (Columns{"x'00'", "00", "x'00'"}));
}

// Conversions reach SQLite as the caller wrote them, whatever their comments hold, and a
// text nested deeper than SQLite takes is refused by SQLite, promptly and with its reason.
TEST_F(DBManagerTest, TranslatesConversionsAsWrittenAndLeavesDepthToTheDatabase) {
  SqliteFile file(database_);
  auto expected = file.Rows("SELECT hex(uuid) FROM tng_managedobject ORDER BY rowid LIMIT 1");
  ASSERT_EQ(expected.size(), 1u);
  std::string callerText;
  DBManager db(dsn_.c_str(), nullptr, &callerText);
  ASSERT_EQ(db.OpenDb(), 0);
  ASSERT_EQ(db.MakeQuery("SELECT hex(CONVERT(varbinary(/*),name)*/16), CONVERT(uniqueidentifier, uuid))) AS id "
                         "FROM tng_managedobject "
                         "WHERE uuid = X'" + expected[0][0] + "'",
                         rows_, columns_),
            0)
      << callerText;
  ASSERT_EQ(rows_.size(), 1u);
  EXPECT_EQ(rows_[0][0], expected[0][0]);

  std::string nested = "SELECT ";
  for (int level = 0; level < 32000; ++level) nested += level % 2 ? "CONVERT(uniqueidentifier, " : "CONVERT(varbinary, ";
  nested += "uuid" + std::string(32000, ')') + " FROM tng_managedobject";
  EXPECT_NE(db.MakeQuery(nested, rows_, columns_), 0);
  EXPECT_NE(callerText.find("overflow"), std::string::npos) << callerText;  // SQLite's parser
  EXPECT_TRUE(rows_.empty());
}

// The literals of a query's conditions reach the data source as bound values: exactly their
// text, never part of the statement, whatever quotes, SQL or characters they hold, and each
// call's own values count although its statement is prepared once.
TEST_F(DBManagerTest, LiteralsAreBoundExactlyAndNeverBecomeCode) {
  SqliteFile file(database_);
  ASSERT_TRUE(file.Exec("CREATE TABLE labels (label VARCHAR(40), n INTEGER);"
                        "INSERT INTO labels VALUES ('x''); DROP TABLE labels; --', 1), ('ü|=''\"?', 2), ('', 3), "
                        "(NULL, 4)"));
  DBManager db(dsn_.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"'x''); DROP TABLE labels; --'", "1"}, {"'ü|=''\"?'", "2"}, {"''", "3"}, {"'x'", ""}};
  for (const auto& [literal, number] : cases) {
    ASSERT_EQ(db.MakeQuery("SELECT n FROM labels WHERE label = " + literal, rows_, columns_), 0) << literal;
    EXPECT_EQ(rows_, number.empty() ? Rows{} : Rows{TabEntry({number})}) << literal;
  }
  // Compared with a number column, a text value converts as a literal does.
  ASSERT_EQ(db.MakeQuery("SELECT label FROM labels WHERE n = '2'", rows_, columns_), 0);
  EXPECT_EQ(rows_, (Rows{TabEntry({"ü|='\"?"})}));
  EXPECT_EQ(DBManagerTestAccess::PreparedCount(db), 2u);
  EXPECT_EQ(file.Rows("SELECT count(*) FROM labels")[0][0], "4");
  EXPECT_NE(Trace().find("Query on " + dsn_ + ": SELECT n FROM labels WHERE label = 'x''); DROP TABLE labels; --'"),
            std::string::npos);
}

// Statements are kept per shape up to a limit, go with the connection, and a shape the data
// source cannot prepare runs as text. The trace shows every text as sent.
TEST_F(DBManagerTest, KeepsABoundedNumberOfShapesForTheConnectionsLife) {
  DBManager db(dsn_.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  for (int i = 0; i < 100; ++i) {
    const std::string name = "t" + std::to_string(i);
    ASSERT_EQ(db.MakeQuery("SELECT status_text AS " + name + " FROM tng_status WHERE status_no = '6'", rows_, columns_),
              0);
    EXPECT_EQ(rows_, (Rows{TabEntry({"Down"})}));
    EXPECT_EQ(columns_, (Columns{name}));
  }
  EXPECT_EQ(DBManagerTestAccess::PreparedCount(db), 64u);

  for (int round = 0; round < 2; ++round) {  // a table name as a literal: SQLite's own leniency
    ASSERT_EQ(db.MakeQuery("SELECT status_text FROM 'tng_status' WHERE status_no = 6", rows_, columns_), 0);
    EXPECT_EQ(rows_, (Rows{TabEntry({"Down"})}));
  }

  Rows ids;
  ASSERT_EQ(db.MakeQuery("SELECT CONVERT(uniqueidentifier, uuid) FROM tng_managedobject ORDER BY rowid LIMIT 2", ids,
                         columns_),
            0);
  ASSERT_EQ(ids.size(), 2u);
  DBManagerTestAccess::BreakLink(db);
  EXPECT_EQ(DBManagerTestAccess::PreparedCount(db), 0u);
  for (const TabEntry& id : ids) {
    ASSERT_EQ(db.MakeQuery("SELECT CONVERT(uniqueidentifier, uuid) FROM tng_managedobject WHERE uuid = "
                           "CONVERT(varbinary, CONVERT(uniqueidentifier, '" + id[0] + "'))",
                           rows_, columns_),
              0);
    EXPECT_EQ(rows_, (Rows{id}));
    EXPECT_NE(Trace().find("Translated for SQLite: SELECT auralink_guid_text(uuid) FROM tng_managedobject WHERE uuid = "
                           "auralink_guid_binary(auralink_guid_text('" + id[0] + "'))"),
              std::string::npos);
  }
  EXPECT_EQ(DBManagerTestAccess::PreparedCount(db), 1u);
}

TEST_F(DBManagerTest, ReadsLongValuesWhole) {
  SqliteFile file(database_);
  ASSERT_TRUE(
      file.Exec("CREATE TABLE extra (t VARCHAR(20000), b BLOB, e BLOB, n VARCHAR(10));"
                "INSERT INTO extra VALUES (printf('%.*c', 10000, 'x') || 'ü|=''\"', randomblob(5000), X'', NULL)"));
  auto expected = file.Rows("SELECT t, b FROM extra");
  DBManager db(dsn_.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  ASSERT_EQ(db.MakeQuery("SELECT t, b, e, n FROM extra", rows_, columns_), 0);
  ASSERT_EQ(rows_.size(), 1u);
  EXPECT_EQ(rows_[0][0], expected[0][0]);
  EXPECT_EQ(rows_[0][1], Hex(expected[0][1]));
  EXPECT_EQ(rows_[0][2], "");
  EXPECT_EQ(rows_[0][3], "");
}

TEST_F(DBManagerTest, EachCallReplacesTheResults) {
  std::string callerText = "stale";
  DBManager db(dsn_.c_str(), nullptr, &callerText);
  ASSERT_EQ(db.OpenDb(), 0);
  EXPECT_EQ(callerText, "");
  ASSERT_EQ(db.MakeQuery("SELECT status_no, status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_EQ(rows_.size(), 8u);
  EXPECT_EQ(columns_.size(), 2u);
  ASSERT_EQ(db.MakeQuery("SELECT status_text FROM tng_status WHERE status_no = 6", rows_, columns_), 0);
  EXPECT_EQ(rows_, (Rows{TabEntry({"Down"})}));
  EXPECT_EQ(columns_, (Columns{"status_text"}));
  ASSERT_EQ(db.MakeQuery("SELECT status_text FROM tng_status WHERE status_no = 1000", rows_, columns_), 0);
  EXPECT_TRUE(rows_.empty());
  EXPECT_EQ(columns_, (Columns{"status_text"}));
  // A failure empties both.
  ASSERT_EQ(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_NE(db.MakeQuery("SELECT missing_column FROM tng_status", rows_, columns_), 0);
  EXPECT_TRUE(rows_.empty());
  EXPECT_TRUE(columns_.empty());
  EXPECT_NE(callerText.find("no such column"), std::string::npos) << callerText;
  // And a success clears the caller's text again.
  ASSERT_EQ(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_EQ(callerText, "");
}

TEST_F(DBManagerTest, ReportsAnUnknownDataSourceWithItsDiagnostics) {
  std::string callerText;
  DBManager db("NoSuchDataSource", nullptr, &callerText);
  EXPECT_NE(db.OpenDb(), 0);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_NE(callerText.find("SQLSTATE IM002"), std::string::npos) << callerText;
  EXPECT_NE(Trace().find("Cannot connect to the data source NoSuchDataSource: SQLSTATE IM002"), std::string::npos)
      << Trace();
  EXPECT_NE(db.MakeQuery("SELECT 1", rows_, columns_), 0);
}

TEST_F(DBManagerTest, ReportsAMissingTableWithItsDiagnostics) {
  std::string callerText;
  DBManager db(dsn_.c_str(), nullptr, &callerText);
  ASSERT_EQ(db.OpenDb(), 0);
  EXPECT_NE(db.MakeQuery("SELECT uuid FROM tng_nothing", rows_, columns_), 0);
  EXPECT_NE(callerText.find("SQLSTATE HY000"), std::string::npos) << callerText;
  EXPECT_NE(callerText.find("no such table: tng_nothing"), std::string::npos) << callerText;
  std::string trace = Trace();
  EXPECT_NE(trace.find("failed: SQLSTATE HY000"), std::string::npos) << trace;
  EXPECT_NE(trace.find("(query: SELECT uuid FROM tng_nothing)"), std::string::npos) << trace;
  // The connection stays usable.
  EXPECT_EQ(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
}

TEST_F(DBManagerTest, ReportsALockedDatabaseAndRecoversWhenReleased) {
  std::string callerText;
  DBManager db(dsn_.c_str(), nullptr, &callerText);
  ASSERT_EQ(db.OpenDb(), 0);
  SqliteFile writer(database_);
  ASSERT_TRUE(writer.Exec("BEGIN EXCLUSIVE"));
  EXPECT_NE(db.MakeQuery("SELECT name FROM tng_managedobject", rows_, columns_), 0);
  EXPECT_NE(callerText.find("locked"), std::string::npos) << callerText;
  EXPECT_NE(Trace().find("SQLSTATE"), std::string::npos);
  ASSERT_TRUE(writer.Exec("COMMIT"));
  EXPECT_EQ(db.MakeQuery("SELECT name FROM tng_managedobject", rows_, columns_), 0);
  EXPECT_EQ(rows_.size(), 300u);
}

TEST_F(DBManagerTest, RefusesToOpenWhatIsNotTheExpectedRepository) {
  std::string callerText;
  // The initial query is checked at opening: a database without the table fails there.
  SqliteFile(sandbox_.Path("empty.db"), true).Exec("CREATE TABLE other (x)");
  std::string emptyDsn = Register(sandbox_.Path("empty.db"));
  DBManager wrong(emptyDsn.c_str(), "SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject",
                  &callerText);
  EXPECT_NE(wrong.OpenDb(), 0);
  EXPECT_FALSE(wrong.IsOpen());
  EXPECT_NE(callerText.find("no such table: tng_managedobject"), std::string::npos) << callerText;
  EXPECT_NE(Trace().find("refuses the query \"SELECT CONVERT(uniqueidentifier,uuid)"), std::string::npos);

  // A database file that is not there is not created.
  std::string goneDsn = Register(sandbox_.Path("gone.db"));
  DBManager gone(goneDsn.c_str(), nullptr, &callerText);
  EXPECT_NE(gone.OpenDb(), 0);
  EXPECT_FALSE(std::filesystem::exists(sandbox_.Path("gone.db")));

  // A SQLite data source that does not load the dialect module.
  std::string bareDsn = Register(database_);
  std::string ini = auralink::testing::TestSandbox::ReadFile(sandbox_.Path("odbc.ini"));
  size_t loadExt = ini.rfind("LoadExt");
  ASSERT_NE(loadExt, std::string::npos);
  ini.erase(loadExt, ini.find('\n', loadExt) + 1 - loadExt);
  auralink::testing::TestSandbox::WriteFile(sandbox_.Path("odbc.ini"), ini);
  DBManager bare(bareDsn.c_str(), nullptr, &callerText);
  EXPECT_NE(bare.OpenDb(), 0);
  EXPECT_NE(callerText.find("no such function: auralink_guid_text"), std::string::npos) << callerText;
  EXPECT_NE(Trace().find("lacks the dialect module (see its LoadExt setting)"), std::string::npos);
}

TEST_F(DBManagerTest, AnswersOnlyWhileOpen) {
  std::string callerText;
  DBManager db(dsn_.c_str(), "SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject", &callerText);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_NE(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_EQ(callerText, "the connection is not open");
  ASSERT_EQ(db.OpenDb(), 0);
  ASSERT_EQ(db.OpenDb(), 0);  // opening again replaces the connection
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_EQ(db.CloseDb(), 0);
  EXPECT_EQ(db.CloseDb(), 0);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_NE(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_NE(Trace().find("refused: the connection is not open"), std::string::npos);
}

TEST_F(DBManagerTest, ReopensALostConnectionOnce) {
  DBManager db(dsn_.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  DBManagerTestAccess::BreakLink(db);
  ASSERT_EQ(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_EQ(rows_.size(), 8u);
  EXPECT_NE(Trace().find("was lost (SQLSTATE 08003"), std::string::npos) << Trace();

  // Lost while the data source is away: the query fails after one try to reopen...
  DBManagerTestAccess::BreakLink(db);
  std::filesystem::rename(database_, database_ + ".away");
  EXPECT_NE(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_FALSE(db.IsOpen());
  // ... and the next query tries again, and succeeds once it is back.
  std::filesystem::rename(database_ + ".away", database_);
  ASSERT_EQ(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_EQ(rows_.size(), 8u);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_NE(Trace().find("is down; reopening it"), std::string::npos);
}

// Rows handed over one at a time: a receiver that has had enough stops the query, and a
// query run again after a lost link tells the receiver to start over.
TEST_F(DBManagerTest, HandsRowsOverOneAtATime) {
  struct Receiver : DBManager::RowReceiver {
    void Restart() override {
      ++restarts;
      texts.clear();
    }
    bool Row(const TabEntry& row) override {
      texts.push_back(row.GetAt(0));
      return texts.size() < limit;
    }
    size_t limit = 1000;
    int restarts = 0;
    std::vector<std::string> texts;
  } receiver;
  std::string callerText;
  DBManager db(dsn_.c_str(), nullptr, &callerText);
  ASSERT_EQ(db.OpenDb(), 0);
  ASSERT_EQ(db.MakeQuery("SELECT status_text FROM tng_status ORDER BY status_no", rows_, columns_), 0);
  Columns expected;
  for (const TabEntry& row : rows_) expected.push_back(row[0]);

  DBManagerTestAccess::BreakLink(db);
  ASSERT_EQ(db.MakeQuery("SELECT status_text FROM tng_status ORDER BY status_no", receiver, columns_), 0);
  EXPECT_EQ(receiver.texts, expected);
  EXPECT_EQ(receiver.restarts, 2);
  EXPECT_EQ(columns_, (Columns{"status_text"}));

  receiver.limit = 3;
  EXPECT_NE(db.MakeQuery("SELECT status_text FROM tng_status", receiver, columns_), 0);
  EXPECT_EQ(receiver.texts.size(), 3u);
  EXPECT_TRUE(columns_.empty());
  EXPECT_NE(callerText.find("stopped"), std::string::npos) << callerText;
  // The connection serves the next query as usual.
  EXPECT_EQ(db.MakeQuery("SELECT status_text FROM tng_status ORDER BY status_no", rows_, columns_), 0);
  EXPECT_EQ(rows_.size(), expected.size());
}

TEST_F(DBManagerTest, TakesAConnectionStringAndKeepsItsPasswordOutOfTheTrace) {
  std::string connection = "DSN=" + dsn_ + ";UID=reader;PWD={se;cret};Timeout=300";
  DBManager db(connection.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  EXPECT_EQ(db.MakeQuery("SELECT status_text FROM tng_status", rows_, columns_), 0);
  EXPECT_EQ(rows_.size(), 8u);
  std::string trace = Trace();
  EXPECT_NE(trace.find("DSN=" + dsn_ + ";UID=reader;PWD=***;Timeout=300"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("cret"), std::string::npos) << trace;
}

}  // namespace
