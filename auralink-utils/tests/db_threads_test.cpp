// Several connections at work on several threads at once, as the table pollers run them.
#include <auralink/db_manager.h>
#include <gtest/gtest.h>

#include <thread>

#include "db_test_repository.h"

namespace {

using auralink::testing::StandInRepositoryTest;

TEST_F(StandInRepositoryTest, ConnectionsWorkSideBySideOnThreads) {
  std::string dsn = Register(Generate(500, 5));
  const char* kIds = "SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject";
  std::vector<TabEntry> ids;
  std::vector<std::string> columns;
  {
    DBManager db(dsn.c_str(), kIds, nullptr);
    ASSERT_EQ(db.OpenDb(), 0);
    ASSERT_EQ(db.MakeQuery(kIds, ids, columns), 0);
    ASSERT_EQ(ids.size(), 500u);
  }

  // Each thread owns its connection, opens it, reads every object of its share, checks
  // that each answer is the object asked for, and closes.
  constexpr int kThreads = 4;
  std::vector<int> failures(kThreads, 0), answers(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      DBManager db(dsn.c_str(), kIds, nullptr);
      if (db.OpenDb() != 0) {
        ++failures[t];
        return;
      }
      std::vector<TabEntry> rows;
      std::vector<std::string> names;
      for (size_t i = static_cast<size_t>(t); i < ids.size(); i += kThreads) {
        std::string sql =
            "SELECT CONVERT(uniqueidentifier, uuid) AS uuid, name FROM tng_managedobject WHERE uuid = "
            "CONVERT(varbinary, CONVERT(uniqueidentifier, '" +
            ids[i][0] + "'))";
        if (db.MakeQuery(sql, rows, names) != 0 || rows.size() != 1 || rows[0][0] != ids[i][0])
          ++failures[t];
        else
          ++answers[t];
      }
      db.CloseDb();
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(answers[t], 125) << "thread " << t;
  }
}

}  // namespace
