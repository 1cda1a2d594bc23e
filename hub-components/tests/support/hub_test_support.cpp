#include "hub_test_support.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <module_function.h>
#include <windows.h>
#include <objbase.h>
#include <windows.h>

#include <sstream>
#include <auralink/platform/guid_text.h>

namespace auralink::testing {

namespace {
typedef HRESULT(STDAPICALLTYPE* RegisterFunction)();
}

HubSandbox::HubSandbox(DWORD apartment) {
  comInitialised_ = SUCCEEDED(CoInitializeEx(nullptr, apartment));
  if (!comInitialised_) ADD_FAILURE() << "cannot initialise COM on the test thread";
  CTraceUtils::GetInstance()->LogInitAppend(sandbox_.TraceFile().c_str(), -1, 0, -1);
  HMODULE module = LoadLibraryA(FAKE_AGENT_MODULE);
  if (!module) {
    ADD_FAILURE() << "cannot load " << FAKE_AGENT_MODULE;
    return;
  }
  auto registerServer = auralink::testing::ModuleFunction<RegisterFunction>(module, "DllRegisterServer");
  journal_ = auralink::testing::ModuleFunction<FakeAgentJournalFunction>(module, FAKE_AGENT_JOURNAL_FUNCTION);
  if (!registerServer || FAILED(registerServer()) || !journal_) ADD_FAILURE() << "cannot register " << FAKE_AGENT_MODULE;
}

HubSandbox::~HubSandbox() {
  CTraceUtils::GetInstance()->Close();
  if (comInitialised_) CoUninitialize();
}

void HubSandbox::WriteAgent(const std::string& agent, const char* discoveryId, const char* listeningId) {
  CConfRepositoryManager* configuration = CConfRepositoryManager::GetInstance();
  std::string key = config::AgentKey(agent);
  if (discoveryId) configuration->SetStr(key.c_str(), config::kDiscoveryId, discoveryId);
  if (listeningId) configuration->SetStr(key.c_str(), config::kListeningId, listeningId);
}

void HubSandbox::WriteFakeAgent(const std::string& agent) {
  WriteAgent(agent, FakeDiscoveryId().c_str(), FakeListeningId().c_str());
}

std::string HubSandbox::Journal() const {
  std::string text;
  if (journal_) journal_(&text);
  return text;
}

std::string HubSandbox::Trace() const { return TestSandbox::ReadFile(sandbox_.TraceFile()); }

int HubSandbox::JournalCount(const std::string& line) const {
  std::istringstream lines(Journal());
  int count = 0;
  for (std::string current; std::getline(lines, current);) count += current == line;
  return count;
}

std::string HubSandbox::FakeDiscoveryId() { return platform::GuidToString(CLSID_FakeDiscovery, false); }
std::string HubSandbox::FakeListeningId() { return platform::GuidToString(CLSID_FakeListening, false); }

}  // namespace auralink::testing
