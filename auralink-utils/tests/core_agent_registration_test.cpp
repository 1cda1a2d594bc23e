// Agent registration records: written outside the product key, removed again, and
// guarded against removing another product's record.
#include <auralink/agent_registration.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>

#include <string>

using auralink::testing::TestSandbox;
namespace config = auralink::config;

namespace {

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::string RecordKey(const char* agent) { return config::JoinKey(auralink::kAgentRegistryKey, agent); }

class AgentRegistrationTest : public ::testing::Test {
 protected:
  TestSandbox sandbox;
  CConfRepositoryManager* repo = CConfRepositoryManager::GetInstance();
};

TEST_F(AgentRegistrationTest, RecordsTheAgentOutsideTheProductKey) {
  ASSERT_NE(RegisterAgent("QuillonLst", "Orvex TNG Object Discovery", "", 3), 0);
  EXPECT_FALSE(KeyExists(config::kRootKey));
  char text[MAX_PATH];
  DWORD size = MAX_PATH;
  ASSERT_EQ(repo->ReadStr(RecordKey("QuillonLst").c_str(), auralink::kAgentDescriptionValue, nullptr, text, &size), 1);
  EXPECT_STREQ(text, "Orvex TNG Object Discovery");
  DWORD type = 0;
  ASSERT_EQ(repo->ReadNum(RecordKey("QuillonLst").c_str(), auralink::kAgentTypeValue, nullptr, &type, nullptr), 1);
  EXPECT_EQ(type, 3u);
  EXPECT_NE(RegisterAgent("QuillonLst", "Orvex TNG Object Discovery", "", 3), 0);  // again: rewritten
}

TEST_F(AgentRegistrationTest, UnregisteringRemovesOnlyThatAgentAndTheEmptyRegistry) {
  ASSERT_NE(RegisterAgent("QuillonLst", "Orvex TNG Object Discovery", "", 3), 0);
  ASSERT_NE(RegisterAgent("MarrowbyLst", "Orvex TNG Event Discovery", "", 3), 0);
  EXPECT_NE(UnregisterAgent("MarrowbyLst", "Orvex TNG Event Discovery"), 0);
  EXPECT_FALSE(KeyExists(RecordKey("MarrowbyLst")));
  EXPECT_TRUE(KeyExists(RecordKey("QuillonLst")));
  EXPECT_NE(UnregisterAgent("QuillonLst", "Orvex TNG Object Discovery"), 0);
  EXPECT_FALSE(KeyExists(auralink::kAgentRegistryKey));
  EXPECT_TRUE(KeyExists(config::kVendorKey));
}

TEST_F(AgentRegistrationTest, TheProductKeyStillGoesWithItsLastAgent) {
  // A registration writes its agent key and the record; unregistration removes the agent
  // key and then finds the product key empty.
  repo->SetStr(config::AgentKey(config::kEventAgent).c_str(), config::kLogFileName, "x.log");
  ASSERT_NE(RegisterAgent(config::kEventAgent, "Orvex TNG Event Discovery", "", 3), 0);
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, config::AgentKey(config::kEventAgent).c_str()), ERROR_SUCCESS);
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, config::kRootKey, 0, KEY_READ, &root), ERROR_SUCCESS);
  DWORD subkeys = 99;
  RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(root);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_NE(UnregisterAgent(config::kEventAgent, "Orvex TNG Event Discovery"), 0);
}

TEST_F(AgentRegistrationTest, RefusalsAndHarmlessCases) {
  EXPECT_EQ(RegisterAgent("", "description", "", 3), 0);
  EXPECT_EQ(RegisterAgent(nullptr, "description", "", 3), 0);
  EXPECT_EQ(UnregisterAgent(nullptr, "description"), 0);
  EXPECT_NE(UnregisterAgent("NeverRegistered", "description"), 0);  // nothing to remove

  ASSERT_NE(RegisterAgent("SharedName", "Another product", "", 1), 0);
  EXPECT_EQ(UnregisterAgent("SharedName", "Orvex TNG Event Discovery"), 0);
  EXPECT_TRUE(KeyExists(RecordKey("SharedName")));
}

}  // namespace
