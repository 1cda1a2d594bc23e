// The SQLite dialect module on its own: loaded into a plain SQLite connection, its two
// functions must convert exactly as SQL Server's CONVERT does.
#include <gtest/gtest.h>
#include <windows.h>
#include <guiddef.h>

#include <bit>
#include <cstring>

#include "db_test_repository.h"
#include <auralink/platform/guid_text.h>

namespace {

using auralink::testing::ProgramFolder;

static_assert(std::endian::native == std::endian::little,
              "the oracle reads a GUID's first three fields in memory order");

// SQL Server shows the 16 bytes of a uniqueidentifier as a GUID whose first three fields
// are little-endian numbers: exactly the memory layout of GUID on this machine.
std::string SqlServerText(const std::string& bytes) {
  GUID guid;
  std::memcpy(&guid, bytes.data(), sizeof guid);
  return auralink::platform::GuidToString(guid, false);
}

class DialectModule : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    sqlite3_enable_load_extension(db_, 1);
    char* message = nullptr;
    std::string module = ProgramFolder() + "/../lib/auralink_sqlite_dialect.so";
    ASSERT_EQ(sqlite3_load_extension(db_, module.c_str(), nullptr, &message), SQLITE_OK) << (message ? message : "");
  }
  void TearDown() override { sqlite3_close(db_); }

  // The single value of `sql` with `bytes` bound as a blob (when given); false with the
  // error message in `out` when the statement fails.
  bool Eval(const std::string& sql, std::string& out, const std::string* blob = nullptr) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      out = sqlite3_errmsg(db_);
      return false;
    }
    if (blob) sqlite3_bind_blob(statement, 1, blob->data(), static_cast<int>(blob->size()), SQLITE_TRANSIENT);
    bool ok = sqlite3_step(statement) == SQLITE_ROW;
    if (ok) {
      out = sqlite3_column_type(statement, 0) == SQLITE_NULL
                ? "<NULL>"
                : std::string(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                              static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
    } else {
      out = sqlite3_errmsg(db_);
    }
    sqlite3_finalize(statement);
    return ok;
  }

  sqlite3* db_ = nullptr;
};

// Bytes to text as SQL Server shows them, and back to the same bytes. (Every object of a
// generated repository goes the same way in the repository query tests.)
TEST_F(DialectModule, ConvertsBinaryToSqlServerTextAndBack) {
  const std::string ordered("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16);
  for (const std::string& bytes : {ordered, std::string(16, '\0'), std::string(16, '\xFF')}) {
    std::string text, back;
    ASSERT_TRUE(Eval("SELECT auralink_guid_text(?)", text, &bytes)) << text;
    EXPECT_EQ(text, SqlServerText(bytes));
    ASSERT_TRUE(Eval("SELECT auralink_guid_binary(auralink_guid_text(?))", back, &bytes)) << back;
    EXPECT_EQ(back, bytes);
  }
  std::string text;
  ASSERT_TRUE(Eval("SELECT auralink_guid_text(?)", text, &ordered));
  EXPECT_EQ(text, "33221100-5544-7766-8899-AABBCCDDEEFF");
}

TEST_F(DialectModule, ReadsIdentifierTextAsSqlServerDoes) {
  std::string out;
  // Either letter case and braces are accepted; the result is the canonical upper case.
  ASSERT_TRUE(Eval("SELECT auralink_guid_text('{6f9619ff-8b86-d011-b42d-00c04fc964ff}')", out));
  EXPECT_EQ(out, "6F9619FF-8B86-D011-B42D-00C04FC964FF");
  ASSERT_TRUE(Eval("SELECT auralink_guid_binary(NULL) IS NULL AND auralink_guid_text(NULL) IS NULL", out));
  EXPECT_EQ(out, "1");
  // Binary passes through a conversion to varbinary untouched.
  ASSERT_TRUE(Eval("SELECT hex(auralink_guid_binary(X'0102'))", out));
  EXPECT_EQ(out, "0102");
}

TEST_F(DialectModule, RefusesWhatIsNotAnIdentifier) {
  const char* kMessage = "Conversion failed when converting from a character string to uniqueidentifier.";
  const char* notIdentifiers[] = {"'not-a-guid'",
                                  "''",
                                  "'6F9619FF-8B86-D011-B42D-00C04FC964F'",
                                  "'6F9619FF-8B86-D011-B42D-00C04FC964FG'",
                                  "'6F9619FF 8B86-D011-B42D-00C04FC964FF'",
                                  "'{6F9619FF-8B86-D011-B42D-00C04FC964FF'",
                                  "' 6F9619FF-8B86-D011-B42D-00C04FC964FF'"};
  std::string out;
  for (const char* text : notIdentifiers) {
    EXPECT_FALSE(Eval(std::string("SELECT auralink_guid_text(") + text + ")", out)) << text;
    EXPECT_EQ(out, kMessage);
    EXPECT_FALSE(Eval(std::string("SELECT auralink_guid_binary(") + text + ")", out)) << text;
    EXPECT_EQ(out, kMessage);
  }
  EXPECT_FALSE(Eval("SELECT auralink_guid_text(X'0011')", out));
  EXPECT_NE(out.find("16 bytes"), std::string::npos) << out;
  EXPECT_FALSE(Eval("SELECT auralink_guid_text(42)", out));
  EXPECT_NE(out.find("int to uniqueidentifier is not allowed"), std::string::npos) << out;
  EXPECT_FALSE(Eval("SELECT auralink_guid_binary(4.5)", out));
  EXPECT_NE(out.find("float to varbinary is not allowed"), std::string::npos) << out;
}

}  // namespace
