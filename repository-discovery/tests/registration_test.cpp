// Registering and unregistering the Quillon module, each case in a fresh registry file:
// the agent's whole default tree, its record, the classes, and what happens when the
// registry cannot be written.
#include <windows.h>
#include <atlbase.h>
#include <auralink/agent_registration.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <module_function.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "agent_defaults.h"
#include "registry_test_helpers.h"
#include <auralink/platform/guid_text.h>
#include <auralink/platform/module_path.h>

namespace quillon::testing {
namespace {

namespace config = auralink::config;
using auralink::testing::TestSandbox;

typedef HRESULT(STDAPICALLTYPE* EntryPoint)();

// The module's two registration entry points, loaded from one file.
struct Module {
  explicit Module(const std::string& path) {
    HMODULE module = LoadLibraryA(path.c_str());
    EXPECT_TRUE(module) << path;
    if (!module) return;
    registerServer = auralink::testing::ModuleFunction<EntryPoint>(module, "DllRegisterServer");
    unregisterServer = auralink::testing::ModuleFunction<EntryPoint>(module, "DllUnregisterServer");
    char loaded[MAX_PATH] = "";
    GetModuleFileNameA(module, loaded, sizeof loaded);
    file = loaded;
  }
  // The module's path as the system gives it, which is the one it registers (on Windows a
  // drive letter and backslashes, whatever the path it was loaded by).
  std::string Folder() const { return auralink::platform::FolderOfPath(file); }

  EntryPoint registerServer = nullptr;
  EntryPoint unregisterServer = nullptr;
  std::string file;
};

// A key and everything below it as text, one line per key: "[path]" (relative), then
// " name=data" for each value in name order (the system promises no enumeration order
// for values); the subkeys follow in enumeration order. Strings must carry their
// terminating zero.
void Dump(HKEY parent, const std::string& name, const std::string& path, std::string& out) {
  registry_test::ScopedKey key;
  if (registry_test::Open(parent, name.c_str(), key, KEY_READ) != ERROR_SUCCESS) return;
  out += "[" + path + "]";
  std::vector<std::string> values = registry_test::ValueNames(key);
  std::sort(values.begin(), values.end());
  for (const std::string& value : values) {
    auto text = registry_test::GetString(key, value.c_str());
    out += " " + value + "=" + (text ? *text : "<not a string>");
  }
  out += "\n";
  for (const std::string& subkey : registry_test::SubkeyNames(key))
    Dump(key, subkey, path.empty() ? subkey : path + "\\" + subkey, out);
}

std::string AgentTree(const char* agent = config::kInstanceAgent) {
  std::string out;
  Dump(HKEY_LOCAL_MACHINE, config::AgentKey(agent), "", out);
  return out;
}

bool KeyExists(HKEY hive, const std::string& path) {
  registry_test::ScopedKey key;
  return registry_test::Open(hive, path.c_str(), key, KEY_READ) == ERROR_SUCCESS;
}

std::string DefaultTree(const std::string& folder) {
  const std::string table = "[DBListening\\PollingTables\\ManagedObjects";
  const std::string conditions = table + "\\OnUpdate\\OnUpdateConditions";
  const std::string tables = table + "\\OnUpdate\\OnUpdateTables";
  using auralink::platform::JoinPath;
  return "[] DiscoveryID=2E1DB596-72F3-48CE-A1C4-470A48280B0C ListeningID=2C961926-B819-4FCB-A528-2533687457B7 "
         "LogFileName=" + JoinPath(folder, "QuillonLst.log") + " ProcessingID=6DCEE00A-89AE-4FBB-ACFB-610F5A26C930\n"
         "[DBListening]\n[DBListening\\PollingTables]\n" +
         table + "] Database=VAZUV PollingTabName=tng_managedobject PollingType=Instances RefreshTime=60\n" +
         table + "\\OnUpdate]\n" +
         conditions + "]\n" +
         conditions + "\\Condition2]\n" +
         conditions + "\\Condition2\\OnUpdateConditionTable1] ConditionTableName1=tng_managedobject\n" +
         conditions + "\\Condition2\\OnUpdateConditionTable1\\OnUpdateConditionField1] ConditionFieldName1=uuid\n" +
         conditions + "\\Condition2\\OnUpdateConditionTable2] ConditionTableName2=tng_inclusion\n" +
         conditions + "\\Condition2\\OnUpdateConditionTable2\\OnUpdateConditionField2] ConditionFieldName2=child_uuid\n" +
         conditions + "\\Condition3]\n" +
         conditions + "\\Condition3\\OnUpdateConditionTable1] ConditionTableName1=tng_managedobject\n" +
         conditions + "\\Condition3\\OnUpdateConditionTable1\\OnUpdateConditionField1] ConditionFieldName1=status_no\n" +
         conditions + "\\Condition3\\OnUpdateConditionTable2] ConditionTableName2=tng_status\n" +
         conditions + "\\Condition3\\OnUpdateConditionTable2\\OnUpdateConditionField2] ConditionFieldName2=status_no\n" +
         tables + "]\n" +
         tables + "\\InclusionTable] OnUpdateTableName=tng_inclusion\n" +
         tables + "\\InclusionTable\\OnUpdateFields] onUpdField1=parent_class onUpdField2=parent_uuid\n" +
         tables + "\\ManagedObjectTable] OnUpdateTableName=tng_managedobject\n" +
         tables + "\\ManagedObjectTable\\OnUpdateFields] onUpdField1=name onUpdField2=label onUpdField3=address "
                  "onUpdField4=address_type onUpdField6=severity onUpdField7=date_ins onUpdField8=class_name "
                  "onUpdField9=date_modify\n" +
         tables + "\\StatusTable] OnUpdateTableName=tng_status\n" +
         tables + "\\StatusTable\\OnUpdateFields] onUpdField1=status_text\n" +
         table + "\\PollForModify] pollModifyField1=date_modify\n" +
         table + "\\PrimaryKey] pkField1=uuid\n"
         "[OrvexSettings]\n"
         "[OrvexSettings\\Instrumentation] instrumentation.authenticate.certificate=KWZattestation "
         "instrumentation.authenticate.sign=KWZmark instrumentation.classes.filename=" + JoinPath(folder, "tng.scl") +
         " instrumentation.name=TNG INSTRUMENTATION\n";
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { CTraceUtils::GetInstance()->LogInitAppend(sandbox_.TraceFile().c_str(), -1, 0, -1); }
  void TearDown() override { CTraceUtils::GetInstance()->Close(); }

  std::string Trace() const { return TestSandbox::ReadFile(sandbox_.TraceFile()); }
  std::string ClassesRoot(const std::string& key, const char* name = nullptr) const {
    CRegKey open;
    std::string value;
    if (open.Open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ) != ERROR_SUCCESS) return "<no key>";
    if (open.QueryStringValue(name, value) != ERROR_SUCCESS) return "<no value>";
    return value;
  }
  std::string InprocServer(REFCLSID clsid) const {
    return ClassesRoot("CLSID\\" + auralink::platform::GuidToString(clsid) + "\\InprocServer32");
  }

  TestSandbox sandbox_;
  Module module_{QUILLON_MODULE};
};

TEST_F(RegistrationTest, AFreshRegistryGetsTheWholeAgentTreeItsRecordAndBothClasses) {
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, config::kRootKey));
  ASSERT_EQ(module_.registerServer(), S_OK) << Trace();
  EXPECT_EQ(AgentTree(), DefaultTree(module_.Folder()));

  CRegKey record;
  ASSERT_EQ(record.Open(HKEY_LOCAL_MACHINE, config::JoinKey(auralink::kAgentRegistryKey, "QuillonLst").c_str(), KEY_READ),
            ERROR_SUCCESS);
  std::string text;
  DWORD type = 0;
  EXPECT_EQ(record.QueryStringValue("Description", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "Orvex TNG Object Discovery");
  EXPECT_EQ(record.QueryStringValue("Text", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "");
  EXPECT_EQ(record.QueryDWORDValue("Type", type), ERROR_SUCCESS);
  EXPECT_EQ(type, 3u);

  EXPECT_EQ(ClassesRoot("Quillon.Processing"), "Processing Class");
  EXPECT_EQ(ClassesRoot("Quillon.Processing\\CurVer"), "Quillon.Processing.1");
  EXPECT_EQ(ClassesRoot("Quillon.Processing.1\\CLSID"), auralink::platform::GuidToString(CLSID_QuillonProcessing));
  EXPECT_EQ(ClassesRoot("Quillon.Discovery.1\\CLSID"), auralink::platform::GuidToString(CLSID_QuillonDiscovery));
  EXPECT_EQ(InprocServer(CLSID_QuillonProcessing), module_.file);
  EXPECT_EQ(ClassesRoot("CLSID\\" + auralink::platform::GuidToString(CLSID_QuillonProcessing) + "\\TypeLib"),
            auralink::platform::GuidToString(LIBID_QUILLONLib));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + auralink::platform::GuidToString(CLSID_QuillonListening)));

  // The processing class is creatable once registered; the listening coclass never is.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CComPtr<IProcessing> processing;
  EXPECT_EQ(processing.CoCreateInstance(CLSID_QuillonProcessing, nullptr, CLSCTX_INPROC_SERVER), S_OK);
  CComPtr<IUnknown> listening;
  EXPECT_TRUE(FAILED(listening.CoCreateInstance(CLSID_QuillonListening, nullptr, CLSCTX_INPROC_SERVER)));
  processing.Release();
  CoUninitialize();
}

TEST_F(RegistrationTest, RegisteringAgainRestoresEveryDefaultAndKeepsOtherValues) {
  ASSERT_EQ(module_.registerServer(), S_OK);
  // What the setup tool and an administrator may have changed since.
  const std::string table = config::PollingTableKey(config::kInstanceAgent, config::kManagedObjectsKey);
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  ASSERT_TRUE(repository->SetStr(table.c_str(), config::kRefreshTime, "300"));
  ASSERT_TRUE(repository->SetStr(table.c_str(), "Comment", "kept"));
  ASSERT_TRUE(repository->SetNum(config::AdapterKey(config::kInstanceAgent).c_str(), config::kTransportRequestPort, 7001));
  ASSERT_TRUE(repository->SetStr(config::InstrumentationKey(config::kInstanceAgent).c_str(),
                                 config::kInstrumentationName, "Renamed"));

  ASSERT_EQ(module_.registerServer(), S_OK);
  char refresh[MAX_PATH] = "";
  DWORD size = MAX_PATH;
  ASSERT_TRUE(repository->ReadStr(table.c_str(), config::kRefreshTime, nullptr, refresh, &size));
  EXPECT_STREQ(refresh, "60");
  DWORD port = 0;
  size = sizeof port;
  EXPECT_TRUE(repository->ReadNum(config::AdapterKey(config::kInstanceAgent).c_str(), config::kTransportRequestPort,
                                  nullptr, &port, &size));
  EXPECT_EQ(port, 7001u);
  // Without the values the defaults do not name, the tree is the default one again.
  std::string tree = AgentTree();
  const std::string comment = " Comment=kept";
  ASSERT_NE(tree.find(comment), std::string::npos) << tree;
  tree.erase(tree.find(comment), comment.size());
  const std::string adapter = "[OrvexSettings\\Adapter] transport.request.port=<not a string>\n";
  ASSERT_NE(tree.find(adapter), std::string::npos) << tree;
  tree.erase(tree.find(adapter), adapter.size());
  EXPECT_EQ(tree, DefaultTree(module_.Folder()));
}

TEST_F(RegistrationTest, AModuleRegisteredFromAnotherFolderPointsItsFilesThere) {
  ASSERT_EQ(module_.registerServer(), S_OK);
  const std::string moved = sandbox_.Path("moved");
  std::filesystem::create_directories(moved);
  const std::string copied = moved + "/" + std::filesystem::path(QUILLON_MODULE).filename().string();
  std::filesystem::copy_file(QUILLON_MODULE, copied);
  Module copy(copied);
  ASSERT_TRUE(copy.registerServer);
  ASSERT_NE(copy.Folder(), module_.Folder());
  ASSERT_EQ(copy.registerServer(), S_OK) << Trace();
  EXPECT_EQ(AgentTree(), DefaultTree(copy.Folder()));
  EXPECT_EQ(InprocServer(CLSID_QuillonProcessing), copy.file);
}

TEST_F(RegistrationTest, UnregistrationKeepsTheProductKeyOnlyWhileAnotherAgentIsLeft) {
  ASSERT_EQ(module_.registerServer(), S_OK);
  ASSERT_TRUE(CConfRepositoryManager::GetInstance()->SetStr(config::EventLogKey(config::kEventAgent, "TNGlog").c_str(),
                                                            config::kStartMode, "warm"));
  ASSERT_TRUE(CConfRepositoryManager::GetInstance()->SetStr(
      config::PollingTableKey(config::kInstanceAgent, "Extra").c_str(), config::kDatabase, "Other"));

  ASSERT_EQ(module_.unregisterServer(), S_OK) << Trace();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, config::AgentKey(config::kInstanceAgent)));
  EXPECT_NE(AgentTree(config::kEventAgent).find("StartMode=warm"), std::string::npos);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, auralink::kAgentRegistryKey));
  EXPECT_EQ(ClassesRoot("Quillon.Processing"), "<no key>");
  EXPECT_EQ(InprocServer(CLSID_QuillonDiscovery), "<no key>");

  ASSERT_EQ(module_.registerServer(), S_OK);
  registry_test::ScopedKey root;
  ASSERT_EQ(registry_test::Open(HKEY_LOCAL_MACHINE, config::kRootKey, root), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(root, config::kEventAgent), ERROR_SUCCESS);
  ASSERT_EQ(module_.unregisterServer(), S_OK) << Trace();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, config::kRootKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, config::kVendorKey));
  EXPECT_EQ(module_.unregisterServer(), S_OK);  // nothing left to remove
}

TEST_F(RegistrationTest, AnAgentRecordOfAnotherProductStopsUnregistrationBeforeTheClasses) {
  ASSERT_EQ(module_.registerServer(), S_OK);
  ASSERT_TRUE(RegisterAgent("QuillonLst", "Someone else's agent", "", 1));
  EXPECT_EQ(module_.unregisterServer(), S_FALSE);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, config::kRootKey));
  EXPECT_EQ(ClassesRoot("Quillon.Processing"), "Processing Class");
}

TEST_F(RegistrationTest, ARegistryThatCannotBeWrittenFailsTheRegistration) {
  // A registry file whose folder is a plain file cannot be written, even by root.
  TestSandbox::WriteFile(sandbox_.Path("not-a-folder"), "");
  TestSandbox::SetVariable("AURALINK_REGISTRY", sandbox_.Path("not-a-folder/registry.reg").c_str());
  const HRESULT hr = module_.registerServer();
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ((static_cast<unsigned>(hr) >> 16) & 0x7FFF, static_cast<unsigned>(FACILITY_WIN32)) << std::hex << hr;
  EXPECT_NE(Trace().find("TNG:Registration: Unable to create the key SOFTWARE\\Kestrova\\Auralink (error "),
            std::string::npos)
      << Trace();
  EXPECT_EQ(Trace().find("Agent QuillonLst registered"), std::string::npos);
}

// Makes one of the registry writes fail while the test runs.
class FailingWrite {
 public:
  FailingWrite() : saved_(RegistryWrites()) {}
  ~FailingWrite() { RegistryWrites() = saved_; }

  void FailValue(const char* name) {
    failing_ = name;
    original_ = saved_;
    RegistryWrites().setString = [](HKEY key, const char* value, const char* data) -> LSTATUS {
      return failing_ == value ? LSTATUS{ERROR_ACCESS_DENIED} : original_.setString(key, value, data);
    };
  }
  void FailKey(const char* name) {
    failing_ = name;
    original_ = saved_;
    RegistryWrites().createKey = [](HKEY parent, const char* subKey, HKEY* key) -> LSTATUS {
      const std::string path = subKey;
      return path.size() >= failing_.size() && path.compare(path.size() - failing_.size(), failing_.size(), failing_) == 0
                 ? LSTATUS{ERROR_ACCESS_DENIED}
                 : original_.createKey(parent, subKey, key);
    };
  }
  void FailDeletes() {
    RegistryWrites().deleteTree = [](HKEY, const char*) -> LSTATUS { return LSTATUS{ERROR_ACCESS_DENIED}; };
  }

 private:
  RegistryWriteCalls saved_;
  static inline RegistryWriteCalls original_{};
  static inline std::string failing_;
};

TEST_F(RegistrationTest, AFailedWriteIsNamedAndEverythingElseIsStillWritten) {
  const std::string tree = DefaultTree("/opt/auralink");
  {
    FailingWrite failing;
    failing.FailValue(config::kRefreshTime);
    EXPECT_EQ(WriteAgentDefaults("/opt/auralink"), E_ACCESSDENIED);
  }
  EXPECT_NE(Trace().find("Unable to write the value RefreshTime of the key "
                         "SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\DBListening\\PollingTables\\ManagedObjects (error 5)"),
            std::string::npos)
      << Trace();
  std::string expected = tree;
  expected.erase(expected.find(" RefreshTime=60"), 15);
  EXPECT_EQ(AgentTree(), expected);

  // A key that cannot be created loses its values only; the first failure decides.
  ASSERT_TRUE(RegDeleteTreeA(HKEY_LOCAL_MACHINE, config::kRootKey) == ERROR_SUCCESS);
  {
    FailingWrite failing;
    failing.FailKey(config::kInstrumentationKey);
    EXPECT_EQ(WriteAgentDefaults("/opt/auralink"), E_ACCESSDENIED);
  }
  EXPECT_NE(Trace().find("Unable to create the key SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\OrvexSettings\\Instrumentation"),
            std::string::npos);
  expected = tree.substr(0, tree.find("[OrvexSettings]"));
  EXPECT_EQ(AgentTree(), expected);
}

TEST_F(RegistrationTest, AnAgentTreeThatCannotBeDeletedFailsTheUnregistration) {
  ASSERT_EQ(WriteAgentDefaults("/opt/auralink"), S_OK);
  {
    FailingWrite failing;
    failing.FailDeletes();
    EXPECT_EQ(RemoveAgentConfiguration(), E_ACCESSDENIED);
  }
  EXPECT_NE(Trace().find("Unable to delete the key SOFTWARE\\Kestrova\\Auralink\\QuillonLst (error 5)"),
            std::string::npos);
  EXPECT_EQ(AgentTree(), DefaultTree("/opt/auralink"));
  EXPECT_EQ(RemoveAgentConfiguration(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, config::kRootKey));
}

}  // namespace
}  // namespace quillon::testing
