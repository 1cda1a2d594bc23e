// Registration of the module: the console-log agent's defaults, both classes, registering
// again, unregistering beside another agent, and registrations whose writes fail.
#include <windows.h>
#include <atlbase.h>
#include <auralink/agent_registration.h>
#include <auralink/conf_repository.h>
#include <auralink/guids.h>
#include <auralink/config_keys.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>

#include "agent_defaults.h"
#include "listener_sandbox.h"
#include <auralink/platform/guid_text.h>
#include <auralink/platform/module_path.h>

namespace marrowby::testing {
namespace {

namespace config = auralink::config;

bool ClassRegistered(const wchar_t* progId) {
  CLSID clsid;
  return CLSIDFromProgID(progId, &clsid) == S_OK;
}

class RegistrationTest : public ::testing::Test {
 protected:
  ListenerSandbox sandbox_;
};

TEST_F(RegistrationTest, RegisteringWritesTheAgentDefaultsBesideTheModuleAndRegisteringAgainResetsTheProgress) {
  ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
  const std::string folder = auralink::platform::FolderOfPath(ModuleFile());
  const std::string agent = config::AgentKey("MarrowbyLst");
  const std::string log = config::EventLogKey("MarrowbyLst", "TNGlog");
  const std::string instrumentation = config::InstrumentationKey("MarrowbyLst");
  EXPECT_EQ(Text(agent, "LogFileName"), auralink::platform::JoinPath(folder, "MarrowbyLst.log"));
  EXPECT_EQ(Text(agent, "ProcessingID"), auralink::platform::GuidToString(CLSID_MarrowbyProcessing, false));
  EXPECT_EQ(Text(agent, "ListeningID"), auralink::platform::GuidToString(CLSID_MarrowbyListening, false));
  EXPECT_EQ(Text(log, "RefreshTime"), "60");
  EXPECT_EQ(Text(log, "LastRefresh"), "");
  EXPECT_EQ(Text(log, "StartMode"), "warm");
  EXPECT_EQ(Text(log, "MsgFilter"), "a");
  EXPECT_EQ(Number(log, "LastMsgNr"), 0u);
  EXPECT_TRUE(KeyExists(config::AdapterKey("MarrowbyLst")));
  EXPECT_EQ(Text(instrumentation, "instrumentation.name"), "TNG INSTRUMENTATION");
  EXPECT_EQ(Text(instrumentation, "instrumentation.authenticate.sign"), "KWZmark");
  EXPECT_EQ(Text(instrumentation, "instrumentation.authenticate.certificate"), "KWZattestation");
  EXPECT_EQ(Text(instrumentation, "instrumentation.classes.filename"), auralink::platform::JoinPath(folder, "tng.scl"));
  EXPECT_FALSE(KeyExists(config::JoinKey(config::EventListeningKey("MarrowbyLst"), "SubnetMask")));
  EXPECT_TRUE(KeyExists(std::string(auralink::kAgentRegistryKey) + "\\MarrowbyLst"));
  EXPECT_TRUE(ClassRegistered(L"Marrowby.Listening"));
  EXPECT_TRUE(ClassRegistered(L"Marrowby.Processing"));

  CConfRepositoryManager::GetInstance()->SetStr(log.c_str(), "LastRefresh", "1796000000");
  CConfRepositoryManager::GetInstance()->SetNum(log.c_str(), "LastMsgNr", 41);
  ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
  EXPECT_EQ(Text(log, "LastRefresh"), "");
  EXPECT_EQ(Number(log, "LastMsgNr"), 0u);
}

TEST_F(RegistrationTest, UnregisteringRemovesTheConfigurationRootOnlyWithItsLastAgent) {
  ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
  CConfRepositoryManager::GetInstance()->SetStr(config::AgentKey("QuillonLst").c_str(), "LogFileName", "q.log");
  ASSERT_EQ(CallModule("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(KeyExists(config::AgentKey("MarrowbyLst")));
  EXPECT_EQ(Text(config::AgentKey("QuillonLst"), "LogFileName"), "q.log");
  EXPECT_FALSE(ClassRegistered(L"Marrowby.Listening"));
  EXPECT_FALSE(ClassRegistered(L"Marrowby.Processing"));

  RegDeleteTreeA(HKEY_LOCAL_MACHINE, config::AgentKey("QuillonLst").c_str());
  ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
  ASSERT_EQ(CallModule("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(KeyExists(config::kRootKey));
  EXPECT_TRUE(KeyExists(config::kVendorKey));
}

// Only the message number cannot be written: what came before stays, nothing after it is
// written, and the caller learns of the failure.
TEST_F(RegistrationTest, AFailedDefaultWriteStopsTheDefaultsAndIsReported) {
  RegistryWriteCalls saved = RegistryWrites();
  RegistryWrites().setValue = [](HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) -> LSTATUS {
    if (std::strcmp(name, "LastMsgNr") == 0) return ERROR_CANTWRITE;
    return RegSetValueExA(key, name, 0, type, data, size);
  };
  LSTATUS result = WriteAgentDefaults("/opt/auralink", CLSID_MarrowbyProcessing, CLSID_MarrowbyListening);
  RegistryWrites() = saved;
  EXPECT_EQ(result, ERROR_CANTWRITE);
  EXPECT_EQ(Text(config::EventLogKey("MarrowbyLst", "TNGlog"), "MsgFilter"), "a");
  EXPECT_FALSE(KeyExists(config::OrvexSettingsKey("MarrowbyLst")));
  EXPECT_EQ(sandbox_.TraceCount("DLLRegister: Unable to set value for key = LastMsgNr (value = 0)"), 1);
}

}  // namespace
}  // namespace marrowby::testing
