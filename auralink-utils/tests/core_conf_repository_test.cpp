// The configuration repository against a private registry file: absent values, sizes,
// kinds, nested enumerations and threads.
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace config = auralink::config;

namespace {

using Names = std::vector<std::string>;

class ConfRepositoryTest : public ::testing::Test {
 protected:
  Names SubSets(const std::string& path) {
    Names names;
    repo->InitializeSubSetEnumeration(path.c_str());
    char name[MAX_PATH];
    while (repo->EnumerateSubSet(name)) names.push_back(name);
    repo->TerminateSubSetEnumeration();
    return names;
  }

  auralink::testing::TestSandbox sandbox;
  CConfRepositoryManager* repo = CConfRepositoryManager::GetInstance();
  std::string logKey = config::EventLogKey(config::kEventAgent, config::kTngLogKey);
  std::string tables = config::PollingTablesKey(config::kInstanceAgent);
};

TEST_F(ConfRepositoryTest, AbsentMismatchedOrOversizedValuesLeaveTheDestinationUntouched) {
  char text[MAX_PATH] = "default";
  DWORD size = MAX_PATH;
  DWORD type = 77;
  EXPECT_EQ(repo->ReadStr(logKey.c_str(), config::kStartMode, &type, text, &size), 0);  // no key
  repo->SetNum(logKey.c_str(), config::kLastMsgNr, 5);
  EXPECT_EQ(repo->ReadStr(logKey.c_str(), config::kStartMode, &type, text, &size), 0);  // no value
  EXPECT_EQ(repo->ReadStr(logKey.c_str(), config::kLastMsgNr, &type, text, &size), 0);  // a number
  EXPECT_STREQ(text, "default");
  EXPECT_EQ(type, 77u);

  repo->SetStr(logKey.c_str(), config::kStartMode, "warm-and-more");
  char small[8] = "keep";
  size = sizeof small;
  EXPECT_EQ(repo->ReadStr(logKey.c_str(), config::kStartMode, nullptr, small, &size), 0);
  EXPECT_STREQ(small, "keep");
  EXPECT_EQ(size, 14u);  // what it would take

  LONG traceLevel = config::kDefaultTraceLevel;
  EXPECT_EQ(repo->ReadNum(config::kRootKey, config::kTraceLevel, nullptr, &traceLevel, &size), 0);
  EXPECT_EQ(repo->ReadNum(logKey.c_str(), config::kStartMode, nullptr, &traceLevel, nullptr), 0);  // a string
  size = 2;
  EXPECT_EQ(repo->ReadNum(logKey.c_str(), config::kLastMsgNr, nullptr, &traceLevel, &size), 0);  // no room
  EXPECT_EQ(traceLevel, -1);
}

TEST_F(ConfRepositoryTest, ValuesRoundTripIncludingWhatRegistrationWroteDirectly) {
  std::string adapterKey = config::AdapterKey(config::kInstanceAgent);
  ASSERT_EQ(repo->SetStr(adapterKey.c_str(), config::kTransportServerAddress, "10.0.0.1"), 1);  // key path created
  ASSERT_EQ(repo->SetNum(config::kRootKey, config::kMaxFileLogSize, static_cast<DWORD>(-1)), 1);
  ASSERT_EQ(repo->SetStr(logKey.c_str(), config::kLastRefresh, ""), 1);  // empty is present, not absent
  char text[MAX_PATH] = "x";
  DWORD size = MAX_PATH;
  DWORD type = 0;
  ASSERT_EQ(repo->ReadStr(adapterKey.c_str(), config::kTransportServerAddress, &type, text, &size), 1);
  EXPECT_STREQ(text, "10.0.0.1");
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  size = MAX_PATH;
  ASSERT_EQ(repo->ReadStr(logKey.c_str(), config::kLastRefresh, nullptr, text, &size), 1);
  EXPECT_STREQ(text, "");
  LONG maxSize = 0;
  ASSERT_EQ(repo->ReadNum(config::kRootKey, config::kMaxFileLogSize, &type, &maxSize, nullptr), 1);
  EXPECT_EQ(maxSize, -1);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

  // Registration writes with the registry functions, sometimes without a terminator.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, logKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD zero = 0;
  RegSetValueExA(key, config::kLastMsgNr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
  RegSetValueExA(key, config::kStartMode, 0, REG_SZ, reinterpret_cast<const BYTE*>("warm"), 4);
  RegCloseKey(key);
  DWORD lastMsgNr = 42;
  EXPECT_EQ(repo->ReadNum(logKey.c_str(), config::kLastMsgNr, nullptr, &lastMsgNr, nullptr), 1);
  EXPECT_EQ(lastMsgNr, 0u);
  size = MAX_PATH;
  EXPECT_EQ(repo->ReadStr(logKey.c_str(), config::kStartMode, nullptr, text, &size), 1);
  EXPECT_STREQ(text, "warm");
  EXPECT_EQ(size, 5u);
}

TEST_F(ConfRepositoryTest, EnumerationsListSubkeysAndValuesThenStop) {
  EXPECT_EQ(repo->InitializeSubSetEnumeration(tables.c_str()), 0);  // missing key: empty
  char name[MAX_PATH] = "keep", data[MAX_PATH];
  EXPECT_EQ(repo->EnumerateSubSet(name), 0);
  EXPECT_STREQ(name, "keep");

  for (const char* table : {"Zeta", "ManagedObjects", "Alpha"})
    repo->SetStr(config::JoinKey(tables, table).c_str(), config::kDatabase, "VAZUV");
  repo->SetStr(tables.c_str(), "NotAKey", "x");
  EXPECT_EQ(SubSets(tables), (Names{"Alpha", "ManagedObjects", "Zeta"}));
  EXPECT_EQ(repo->EnumerateSubSet(name), 0);  // terminated

  // A list: value names first, data second; numbers as decimal text. Windows does not say in
  // which order values come: Windows and the Linux platform give creation order, Wine sorts.
  std::string fields = config::JoinKey(tables, "Alpha", config::kOnUpdateFieldsKey);
  repo->SetStr(fields.c_str(), "onUpdField6", "severity");
  repo->SetStr(fields.c_str(), "onUpdField1", "name");
  repo->SetNum(fields.c_str(), "count", 4000000000u);
  repo->InitializeParameterEnumeration(fields.c_str());
  std::vector<std::pair<std::string, std::string>> values;
  while (repo->EnumerateParameter(name, data)) values.emplace_back(name, data);
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::pair<std::string, std::string>>{
                        {"count", "4000000000"}, {"onUpdField1", "name"}, {"onUpdField6", "severity"}}));
  repo->TerminateParameterEnumeration();
  EXPECT_EQ(repo->EnumerateParameter(name, data), 0);
}

TEST_F(ConfRepositoryTest, NestedEnumerationsResumeTheOuterOne) {
  // The table listener's walk: tables, and inside each its update tables.
  for (const char* table : {"First", "Second"})
    for (const char* update : {"U1", "U2"})
      repo->SetStr(config::JoinKey(tables, table, config::kOnUpdateKey, config::kOnUpdateTablesKey, update).c_str(),
                   config::kOnUpdateTableName, (std::string(table) + "." + update).c_str());
  Names seen;
  repo->InitializeSubSetEnumeration(tables.c_str());
  char table[MAX_PATH];
  while (repo->EnumerateSubSet(table)) {
    ASSERT_EQ(repo->PreserveSubSetEnumeration(tables.c_str()), 1);
    std::string updates = config::JoinKey(tables, table, config::kOnUpdateKey, config::kOnUpdateTablesKey);
    repo->InitializeSubSetEnumeration(updates.c_str());
    char update[MAX_PATH], value[MAX_PATH];
    while (repo->EnumerateSubSet(update)) {
      DWORD size = MAX_PATH;
      repo->ReadStr(config::JoinKey(updates, update).c_str(), config::kOnUpdateTableName, nullptr, value, &size);
      seen.push_back(value);
    }
    ASSERT_EQ(repo->RestoreSubSetEnumeration(tables.c_str()), 1);
  }
  EXPECT_EQ(seen, (Names{"First.U1", "First.U2", "Second.U1", "Second.U2"}));
}

TEST_F(ConfRepositoryTest, PreserveAndRestoreMatchTheirPath) {
  std::string root = config::kRootKey;
  repo->SetStr(config::AgentKey("A").c_str(), "v", "1");
  repo->SetStr(config::AgentKey("B").c_str(), "v", "1");
  EXPECT_EQ(repo->PreserveSubSetEnumeration(root.c_str()), 0);  // nothing runs
  EXPECT_EQ(repo->RestoreSubSetEnumeration(root.c_str()), 0);   // nothing put aside

  repo->InitializeSubSetEnumeration(root.c_str());
  char name[MAX_PATH];
  ASSERT_EQ(repo->EnumerateSubSet(name), 1);
  EXPECT_EQ(repo->PreserveSubSetEnumeration(config::AgentKey("A").c_str()), 0);  // another path
  // The registry ignores case and a trailing separator.
  ASSERT_EQ(repo->PreserveSubSetEnumeration("software\\kestrova\\AURALINK\\"), 1);
  // An inner run that ends early, as after a failure, does not lose the outer one.
  repo->InitializeSubSetEnumeration(config::AgentKey("A").c_str());
  repo->TerminateSubSetEnumeration();
  ASSERT_EQ(repo->RestoreSubSetEnumeration(root.c_str()), 1);
  ASSERT_EQ(repo->EnumerateSubSet(name), 1);
  EXPECT_STREQ(name, "B");
  EXPECT_EQ(repo->RestoreSubSetEnumeration(root.c_str()), 0);  // used up
}

TEST_F(ConfRepositoryTest, EachThreadKeepsItsOwnEnumeration) {
  for (const char* name : {"a1", "a2"}) repo->SetStr(config::JoinKey(config::AgentKey("A"), name).c_str(), "v", "1");
  for (const char* name : {"b1", "b2"}) repo->SetStr(config::JoinKey(config::AgentKey("B"), name).c_str(), "v", "1");
  repo->InitializeSubSetEnumeration(config::AgentKey("A").c_str());
  char name[MAX_PATH];
  ASSERT_EQ(repo->EnumerateSubSet(name), 1);
  Names other;
  std::thread([&] { other = SubSets(config::AgentKey("B")); }).join();
  EXPECT_EQ(other, (Names{"b1", "b2"}));
  ASSERT_EQ(repo->EnumerateSubSet(name), 1);
  EXPECT_STREQ(name, "a2");
}

TEST_F(ConfRepositoryTest, ReadersAndAWriterRunAtOnce) {
  // Polling threads read their settings while the console-log thread saves its progress.
  for (const char* table : {"T1", "T2", "T3"})
    repo->SetStr(config::JoinKey(tables, table, config::kPrimaryKeyKey).c_str(), "pkField1", table);
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::thread writer([&] {
    for (DWORD n = 1; !stop; ++n) {
      repo->SetStr(logKey.c_str(), config::kLastRefresh, std::to_string(n).c_str());
      repo->SetNum(logKey.c_str(), config::kLastMsgNr, n);
    }
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r)
    readers.emplace_back([&] {
      for (int round = 0; round < 30; ++round) {
        Names names;
        repo->InitializeSubSetEnumeration(tables.c_str());
        char table[MAX_PATH], first[MAX_PATH], second[MAX_PATH];
        while (repo->EnumerateSubSet(table)) {
          names.push_back(table);
          repo->InitializeParameterEnumeration(config::JoinKey(tables, table, config::kPrimaryKeyKey).c_str());
          if (!repo->EnumerateParameter(first, second) || names.back() != second) ++failures;
        }
        if (names != Names{"T1", "T2", "T3"}) ++failures;
        DWORD size = MAX_PATH;
        DWORD number = 0;
        if (repo->ReadNum(logKey.c_str(), config::kLastMsgNr, nullptr, &number, nullptr) &&
            !repo->ReadStr(logKey.c_str(), config::kLastRefresh, nullptr, first, &size))
          ++failures;
      }
    });
  for (auto& reader : readers) reader.join();
  stop = true;
  writer.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
