#include "adapter_test_agent.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>
#include <winreg.h>

#include <cstring>

#include "scripted_processing_ids.h"
#include <auralink/platform/guid_text.h>

namespace config = auralink::config;

namespace orvex::testing {

void WriteAgentSettings(const std::string& agent, const std::string& folder) {
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  const std::string classesFile = folder + "/" + agent + ".classes";
  auralink::testing::TestSandbox::WriteFile(classesFile, kClassesFile);
  const std::string log = folder + "/" + agent + ".log";
  ASSERT_TRUE(repository->SetStr(config::AgentKey(agent).c_str(), config::kLogFileName, log.c_str()));
  const std::string instrumentation = config::InstrumentationKey(agent);
  repository->SetStr(instrumentation.c_str(), config::kInstrumentationName, config::kDefaultInstrumentationName);
  repository->SetStr(instrumentation.c_str(), config::kInstrumentationSign, config::kDefaultInstrumentationSign);
  repository->SetStr(instrumentation.c_str(), config::kInstrumentationCertificate,
                     config::kDefaultInstrumentationCertificate);
  repository->SetStr(instrumentation.c_str(), config::kInstrumentationClassesFile, classesFile.c_str());
  const std::string adapter = config::AdapterKey(agent);
  repository->SetNum(adapter.c_str(), config::kTransportRequestPort, kRequestPort);
  repository->SetNum(adapter.c_str(), config::kTransportServerQlinkPort, kServerPort);
  repository->SetStr(adapter.c_str(), config::kTransportServerAddress, kServerAddress);
}

void UseScriptedProcessing(const std::string& agent) {
  const std::string clsid = auralink::platform::GuidToString(CLSID_ScriptedProcessing);
  const std::string key = "CLSID\\" + clsid + "\\InprocServer32";
  HKEY server = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &server, nullptr),
            ERROR_SUCCESS);
  const char* path = SCRIPTED_PROCESSING_MODULE;
  RegSetValueExA(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                 static_cast<DWORD>(std::strlen(path) + 1));
  RegSetValueExA(server, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
  RegCloseKey(server);
  CConfRepositoryManager::GetInstance()->SetStr(
      config::AgentKey(agent).c_str(), config::kProcessingId,
      auralink::platform::GuidToString(CLSID_ScriptedProcessing, false).c_str());
}

void RemoveSetting(const std::string& keyPath, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

}  // namespace orvex::testing
