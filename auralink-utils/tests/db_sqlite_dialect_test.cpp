// Translation of SQL Server conversions for SQLite data sources.
#include <gtest/gtest.h>

#include "db/sqlite_dialect.h"

using auralink::db::IsSqliteDbms;
using auralink::db::TranslateConvertForSqlite;

namespace {

TEST(SqliteDialect, TranslatesTheRepositoryQueries) {
  EXPECT_EQ(TranslateConvertForSqlite("SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject"),
            "SELECT auralink_guid_text(uuid) AS uuid FROM tng_managedobject");
  EXPECT_EQ(TranslateConvertForSqlite("SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject WHERE "
                                      "(class_name IN ('Router','Printer'))"),
            "SELECT auralink_guid_text(uuid) AS uuid FROM tng_managedobject WHERE (class_name IN "
            "('Router','Printer'))");
  EXPECT_EQ(TranslateConvertForSqlite(
                "SELECT A.name,B.status_text,C.parent_class,CONVERT(uniqueidentifier,C.parent_uuid) AS parent_uuid "
                "FROM tng_managedobject AS A, tng_status AS B, tng_inclusion AS C WHERE ((A.uuid = CONVERT(varbinary, "
                "CONVERT(uniqueidentifier, '6F9619FF-8B86-D011-B42D-00C04FC964FF'))) AND (A.status_no = B.status_no) "
                "AND (A.uuid = C.child_uuid))"),
            "SELECT A.name,B.status_text,C.parent_class,auralink_guid_text(C.parent_uuid) AS parent_uuid FROM "
            "tng_managedobject AS A, tng_status AS B, tng_inclusion AS C WHERE ((A.uuid = "
            "auralink_guid_binary(auralink_guid_text('6F9619FF-8B86-D011-B42D-00C04FC964FF'))) AND (A.status_no = "
            "B.status_no) AND (A.uuid = C.child_uuid))");
}

TEST(SqliteDialect, AcceptsAnySpacingCaseAndLength) {
  EXPECT_EQ(TranslateConvertForSqlite("select convert ( UniqueIdentifier ,\n\tx ) from t"),
            "select auralink_guid_text(x) from t");
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(VARBINARY(16), x)"), "auralink_guid_binary(x)");
  EXPECT_EQ(TranslateConvertForSqlite("Convert( varbinary ( max ) , x)"), "auralink_guid_binary(x)");
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT /* why */ (uniqueidentifier, -- note\n x)"),
            "auralink_guid_text(-- note\n x)");
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(uniqueidentifier, x -- note\n)"), "auralink_guid_text(x -- note\n)");
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(varbinary,CONVERT(uniqueidentifier,CONVERT(varbinary,y)))"),
            "auralink_guid_binary(auralink_guid_text(auralink_guid_binary(y)))");
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(uniqueidentifier, lower(substr(a, 1, 36)))"),
            "auralink_guid_text(lower(substr(a, 1, 36)))");
}

TEST(SqliteDialect, LeavesEverythingElseAlone) {
  const char* unchanged[] = {
      "SELECT 'CONVERT(uniqueidentifier, x)' AS text",                          // a literal
      "SELECT 'it''s CONVERT(varbinary, x)'",                                   // a literal with a doubled quote
      "SELECT \"CONVERT(uniqueidentifier, x)\" FROM t",                         // a quoted identifier
      "SELECT [CONVERT(uniqueidentifier, x)] FROM t",                           // a bracketed identifier
      "SELECT x -- CONVERT(uniqueidentifier, x)\nFROM t",                       // a comment
      "SELECT CONVERT(varchar, x), CONVERT(int, y) FROM t",                     // other target types
      "SELECT CONVERT(varbinary, x, 1) FROM t",                                 // a style argument
      "SELECT t.CONVERT(uniqueidentifier, x), MYCONVERT(uniqueidentifier, x)",  // other names
      "SELECT CONVERT(uniqueidentifier, x",                                     // unterminated
      "",
  };
  for (const char* sql : unchanged) EXPECT_EQ(TranslateConvertForSqlite(sql), sql) << sql;
  // A conversion inside one that stays is still translated.
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(varchar(36), CONVERT(uniqueidentifier, x))"),
            "CONVERT(varchar(36), auralink_guid_text(x))");
  // Literals inside a translated argument stay intact, parentheses and quotes included.
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(uniqueidentifier, ')''(')"), "auralink_guid_text(')''(')");
}

// The SQL text that nests `depth` conversions around `inner`, alternating the two kinds,
// and what the translation must make of it.
struct Nesting {
  std::string sql;
  std::string translated;
};
Nesting NestedConversions(int depth, const std::string& inner) {
  Nesting nesting;
  for (int level = 0; level < depth; ++level) {
    bool toBinary = level % 2 == 0;
    nesting.sql += toBinary ? "CONVERT(varbinary, " : "CONVERT(uniqueidentifier, ";
    nesting.translated += toBinary ? "auralink_guid_binary(" : "auralink_guid_text(";
  }
  nesting.sql += inner + std::string(static_cast<size_t>(depth), ')');
  nesting.translated += inner + std::string(static_cast<size_t>(depth), ')');
  return nesting;
}

TEST(SqliteDialect, FindsLengthsAndArgumentsPastCommentsAndLiterals) {
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(varbinary(/*),x)*/16), y)"), "auralink_guid_binary(y)");
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(varbinary(-- )\n16), y)"), "auralink_guid_binary(y)");
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(varbinary(16 /* , */), ')' + y)"), "auralink_guid_binary(')' + y)");
  // A length that never closes is no conversion.
  EXPECT_EQ(TranslateConvertForSqlite("CONVERT(varbinary(16, y"), "CONVERT(varbinary(16, y");
}

// Text handed to the library by its users may nest without bound; the translation must
// keep pace with the text's length instead of reading the argument again at every level.
TEST(SqliteDialect, TranslatesDeepNestingWhole) {
  Nesting nesting = NestedConversions(32000, "uuid");
  EXPECT_EQ(TranslateConvertForSqlite(nesting.sql), nesting.translated);
  Nesting commented = NestedConversions(3, "x -- note\n");
  EXPECT_EQ(TranslateConvertForSqlite(commented.sql),
            "auralink_guid_binary(auralink_guid_text(auralink_guid_binary(x -- note\n)))");
}

TEST(SqliteDialect, RecognisesSqliteByItsDbmsName) {
  EXPECT_TRUE(IsSqliteDbms("SQLite"));
  EXPECT_TRUE(IsSqliteDbms("sqlite3"));
  EXPECT_FALSE(IsSqliteDbms("Microsoft SQL Server"));
  EXPECT_FALSE(IsSqliteDbms("SQL"));
  EXPECT_FALSE(IsSqliteDbms(""));
}

}  // namespace
