// Test support for the database connection: a generated stand-in repository in the test's
// sandbox, registered as an ODBC data source in the sandbox's own odbc.ini, and a trace
// file to read the connection's lines back from.
#pragma once
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <test_sandbox.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "repository_generator.h"

namespace auralink::testing {

// The folder of the running test program: the build's bin folder, next to the odbc.ini
// writer, with the dialect module in ../lib.
inline std::string ProgramFolder() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Direct access to a SQLite file, past ODBC: the tests' independent view of the data.
class SqliteFile {
 public:
  explicit SqliteFile(const std::string& path, bool create = false) {
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) ADD_FAILURE() << "cannot open " << path;
  }
  ~SqliteFile() { sqlite3_close(db_); }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  sqlite3* Handle() const { return db_; }

  // Runs `sql`; false with the message in `error`.
  bool Exec(const std::string& sql, std::string* error = nullptr) {
    char* message = nullptr;
    bool ok = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!ok && error) *error = message ? message : "";
    sqlite3_free(message);
    return ok;
  }

  // Rows of `sql`, every value as text, blobs as raw bytes, NULL as "<NULL>".
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        if (sqlite3_column_type(statement, i) == SQLITE_NULL) {
          row.emplace_back("<NULL>");
        } else {
          const void* data = sqlite3_column_blob(statement, i);
          row.emplace_back(static_cast<const char*>(data), static_cast<size_t>(sqlite3_column_bytes(statement, i)));
        }
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

class StandInRepositoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTraceUtils::GetInstance()->LogInitAppend(sandbox_.TraceFile().c_str(), -1, 0, -1);
  }

  void TearDown() override {
    CTraceUtils::GetInstance()->Close();
  }

  // Generates a repository file in the sandbox; returns its path.
  std::string Generate(uint64_t objects, uint64_t seed, const std::string& file = "repository.db") {
    std::string path = sandbox_.Path(file);
    std::string error;
    standins::RepositoryCounts counts;
    EXPECT_TRUE(standins::GenerateRepository(path, {objects, seed}, counts, error)) << error;
    return path;
  }

  // Registers `database` as a data source in the sandbox's odbc.ini under a fresh name
  // (unixODBC caches data-source entries per process, so names are never reused) and
  // returns that name. `name` forces a given one.
  std::string Register(const std::string& database, std::string name = "", const std::string& options = "") {
    static std::atomic<int> counter{0};
    if (name.empty()) name = "AuralinkTest" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    std::string command = Quoted(ProgramFolder() + "/auralink-write-odbc-ini") + " --timeout 300 " + options + " " +
                          Quoted(name) + " " + Quoted(database) + " " + Quoted(sandbox_.Path("odbc.ini")) + " 2>" +
                          Quoted(sandbox_.Path("writer.err"));
    int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command << "\n" << TestSandbox::ReadFile(sandbox_.Path("writer.err"));
    return name;
  }

  std::string Trace() const { return TestSandbox::ReadFile(sandbox_.TraceFile()); }

  TestSandbox sandbox_;

 private:
};

}  // namespace auralink::testing
