// Statement shapes: which literals become parameters, which texts are sent as they are, and
// that a shape filled again (translated or not) gives back exactly the text it came from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/sqlite_dialect.h"
#include "db/statement_shape.h"
#include "repository_queries.h"

using auralink::db::FillShape;
using auralink::db::ShapeStatement;
using auralink::db::StatementShape;
using auralink::db::TranslateConvertForSqlite;

namespace {

TEST(StatementShape, ParametersTheLiteralsOfConditionsOnly) {
  struct Case {
    const char* sql;
    const char* shape;
    std::vector<std::string> values;
  } cases[] = {
      {"SELECT a FROM t WHERE b = 'x' AND c IN ('y','it''s')", "SELECT a FROM t WHERE b = ? AND c IN (?,?)",
       {"x", "y", "it's"}},
      // The select list names the columns, and N'…' and X'…' are not plain text.
      {"SELECT 'k' AS k, a || 'z' FROM t WHERE b = N'x' OR b = X'00' OR b = ''",
       "SELECT 'k' AS k, a || 'z' FROM t WHERE b = N'x' OR b = X'00' OR b = ?",
       {""}},
      // A FROM inside parentheses is no FROM of the statement; comments and quoted names
      // keep their quotes.
      {"select substr(a from 2), (select 'q' from u) from t -- it's\nwhere \"o'k\" = 'v' /* 'w' */",
       "select substr(a from 2), (select 'q' from u) from t -- it's\nwhere \"o'k\" = ? /* 'w' */",
       {"v"}},
      {"SELECT a FROM t", "SELECT a FROM t", {}},
  };
  for (const Case& c : cases) {
    StatementShape shape;
    ASSERT_TRUE(ShapeStatement(c.sql, shape)) << c.sql;
    EXPECT_EQ(shape.text, c.shape);
    EXPECT_EQ(shape.values, c.values) << c.sql;
    EXPECT_EQ(FillShape(shape.text, shape.values), c.sql);
  }

  // Texts that go out as they are.
  for (std::string sql : {"UPDATE t SET a = 'x' WHERE b = 'y'", "SELECT * FROM t WHERE b = 'y'",
                          "SELECT a FROM t WHERE b = ?", "SELECT a FROM t WHERE b = 'x'; DELETE FROM t",
                          "SELECT a FROM t WHERE b = 'unterminated''", "  -- only a comment"}) {
    StatementShape shape;
    EXPECT_FALSE(ShapeStatement(sql, shape)) << sql;
  }
  StatementShape shape;
  EXPECT_FALSE(ShapeStatement(std::string("SELECT a FROM t WHERE b = 'x\0y'", 32), shape));
}

// The connection translates a shape once and fills in the literals for the trace: that must
// be the translation of the whole text, for every query the repository sends.
TEST(StatementShape, FilledTranslationIsTheTranslatedText) {
  std::map<std::string, CGenericClass> classes;
  for (const char* name : {"Router", "Printer", "O'Brien's"}) classes[name].m_className = name;
  for (const std::string& sql :
       {quillon::AllClassesUuidQuery(classes), quillon::OneClassUuidQuery("Router"),
        quillon::ObjectWithParentsQuery("6F9619FF-8B86-D011-B42D-00C04FC964FF"),
        quillon::ObjectWithoutParentsQuery("it's ') OR 1=1 --"),
        std::string("SELECT CONVERT(uniqueidentifier, a) FROM t WHERE CONVERT(varbinary, 'x?') = b -- '?'")}) {
    StatementShape shape;
    ASSERT_TRUE(ShapeStatement(sql, shape)) << sql;
    EXPECT_FALSE(shape.values.empty()) << sql;
    EXPECT_EQ(FillShape(TranslateConvertForSqlite(shape.text), shape.values), TranslateConvertForSqlite(sql));
  }
}

}  // namespace
