// The stand-in repository generator: the same request gives the same repository, and the
// repository holds the shapes and oddities that the discovery has to cope with.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "db_test_repository.h"

namespace {

using auralink::testing::ProgramFolder;
using auralink::testing::Quoted;
using auralink::testing::SqliteFile;
using auralink::testing::StandInRepositoryTest;
using auralink::testing::TestSandbox;

std::vector<std::vector<std::string>> Dump(const std::string& path) {
  SqliteFile file(path);
  auto rows = file.Rows("SELECT * FROM tng_managedobject ORDER BY rowid");
  for (auto& row : file.Rows("SELECT * FROM tng_inclusion ORDER BY rowid")) rows.push_back(row);
  for (auto& row : file.Rows("SELECT * FROM tng_status ORDER BY rowid")) rows.push_back(row);
  return rows;
}

TEST_F(StandInRepositoryTest, GeneratorIsDeterministicPerSeed) {
  auto first = Dump(Generate(700, 42, "a.db"));
  EXPECT_EQ(first.size(), 700u + 8u + SqliteFile(sandbox_.Path("a.db")).Rows("SELECT * FROM tng_inclusion").size());
  EXPECT_EQ(Dump(Generate(700, 42, "b.db")), first);
  EXPECT_NE(Dump(Generate(700, 43, "c.db")), first);
}

TEST_F(StandInRepositoryTest, GeneratedRepositoryHoldsTheOddCases) {
  SqliteFile file(Generate(300, 9));
  auto count = [&](const std::string& sql) { return std::stoi(file.Rows(sql)[0][0]); };
  EXPECT_EQ(count("SELECT COUNT(*) FROM tng_managedobject"), 300);
  EXPECT_EQ(count("SELECT COUNT(DISTINCT class_name) FROM tng_managedobject"), 10);
  // Objects with no, one, two and three parents.
  for (int parents = 1; parents <= 3; ++parents)
    EXPECT_GT(
        count("SELECT COUNT(*) FROM (SELECT child_uuid FROM tng_inclusion GROUP BY child_uuid HAVING COUNT(*) = " +
              std::to_string(parents) + ")"),
        0)
        << parents;
  EXPECT_GT(count("SELECT COUNT(*) FROM tng_managedobject WHERE uuid NOT IN (SELECT child_uuid FROM tng_inclusion)"),
            0);
  // Every parent is an object of the class named for it.
  EXPECT_EQ(count("SELECT COUNT(*) FROM tng_inclusion AS C LEFT JOIN tng_managedobject AS P ON P.uuid = C.parent_uuid "
                  "WHERE P.uuid IS NULL OR P.class_name <> C.parent_class"),
            0);
  EXPECT_GT(count("SELECT COUNT(*) FROM tng_managedobject WHERE status_no NOT IN (SELECT status_no FROM tng_status)"),
            0);
  EXPECT_GT(count("SELECT COUNT(*) FROM tng_managedobject WHERE label IS NULL"), 0);
  EXPECT_GT(count("SELECT COUNT(*) FROM tng_managedobject WHERE address IS NULL"), 0);
  EXPECT_GT(count("SELECT COUNT(*) FROM tng_managedobject WHERE length(CAST(label AS BLOB)) > length(label)"), 0)
      << "labels with letters beyond ASCII";
  for (const char* odd : {"'", "\"", "=", "|"})
    EXPECT_GT(count(std::string("SELECT COUNT(*) FROM tng_managedobject WHERE instr(name || coalesce(label, ''), '") +
                    (odd == std::string("'") ? "''" : odd) + "') > 0"),
              0)
        << odd;
  EXPECT_EQ(count("SELECT COUNT(*) FROM tng_managedobject WHERE typeof(uuid) <> 'blob' OR length(uuid) <> 16"), 0);
}

TEST_F(StandInRepositoryTest, CommandLineWritesTheRepository) {
  std::string program = Quoted(ProgramFolder() + "/auralink-repogen");
  std::string out = sandbox_.Path("out.txt");
  std::string path = sandbox_.Path("cli.db");
  ASSERT_EQ(std::system((program + " --objects 50 --seed 3 --output " + Quoted(path) + " >" + Quoted(out)).c_str()), 0);
  EXPECT_NE(TestSandbox::ReadFile(out).find("50 objects"), std::string::npos);
  EXPECT_EQ(Dump(path), Dump(Generate(50, 3, "lib.db")));
  for (const char* bad : {"--objects 0 --output x.db", "--objects ten --output x.db", "--seed 1", "--bogus"})
    EXPECT_EQ(WEXITSTATUS(std::system((program + " " + bad + " 2>/dev/null").c_str())), 2) << bad;
}

TEST_F(StandInRepositoryTest, OdbcIniWriterKeepsOtherSections) {
  std::string ini = sandbox_.Path("odbc.ini");
  TestSandbox::WriteFile(ini, "[Other]\nDriver = x\n\n[First]\nDatabase = old\n");
  Register(sandbox_.Path("one.db"), "First");
  Register(sandbox_.Path("two.db"), "Second");
  std::string text = TestSandbox::ReadFile(ini);
  EXPECT_NE(text.find("[Other]\nDriver = x\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Database = old"), std::string::npos) << text;
  EXPECT_NE(text.find("[First]"), std::string::npos);
  EXPECT_NE(text.find("Database    = " + sandbox_.Path("one.db")), std::string::npos) << text;
  EXPECT_NE(text.find("Database    = " + sandbox_.Path("two.db")), std::string::npos) << text;
  EXPECT_NE(text.find("LoadExt     = /"), std::string::npos) << text;
  EXPECT_NE(text.find("auralink_sqlite_dialect.so"), std::string::npos) << text;
}

}  // namespace
