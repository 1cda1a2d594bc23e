// Every method works with nothing but the trace, the configuration repository and the
// table pollers, none of which depend on a per-module framework state; so a call needs no
// state switch to run inside the module.
#include "listening.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>

#include "table_settings.h"
#include <auralink/platform/text.h>

namespace {
constexpr const char* kComponent = "Dunmere";
constexpr DWORD kNameSize = 260;

std::unique_ptr<TablePollThrd> CreatePoller(const std::string& agentName, TableSettings& s) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!s.NeedsConditions()) {
    trace->LogMsg(0, kComponent, "Launching the Polling Thread with NO condition specified.");
    return std::make_unique<TablePollThrd>(agentName, s.dataSource, s.pollingType, s.pollInterval, s.tableName,
                                           s.selectColumns, s.keyColumns, s.modifyColumns, s.updateTables,
                                           s.updateFields);
  }
  trace->LogMsg(0, kComponent, "Launching the Polling Thread with the dynamic query construction.");
  return std::make_unique<TablePollThrd>(agentName, s.dataSource, s.pollingType, s.pollInterval, s.tableName,
                                         s.selectColumns, s.keyColumns, s.modifyColumns, s.updateFields,
                                         s.updateTables, s.updateConditions);
}
}  // namespace

STDMETHODIMP CListening::Initialize(BSTR agentNameText) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(3, kComponent, "Called Initialize");
  agentName = auralink::platform::BstrToNarrow(agentNameText);
  const char* agent = agentName.c_str();
  const std::string tablesKey = auralink::config::PollingTablesKey(agentName);

  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  repository->InitializeSubSetEnumeration(tablesKey.c_str());
  char table[kNameSize];
  while (repository->EnumerateSubSet(table, kNameSize)) {
    trace->LogMsg(1, kComponent, "Listening on the table %s will be instantiated (agent %s)", table, agent);
    TableSettings settings;
    if (!ReadTableSettings(agentName, tablesKey, table, settings)) {
      repository->TerminateSubSetEnumeration();
      return E_FAIL;
    }
    trace->LogMsg(0, kComponent, "Instantiate a thread for listening to the table %s (agent %s)", table, agent);
    for (const std::string& field : settings.updateFields) trace->LogMsg(3, kComponent, "onUpdateField: %s", field.c_str());
    for (const std::string& name : settings.updateTables) trace->LogMsg(3, kComponent, "onUpdateTables: %s", name.c_str());
    for (const std::string& term : settings.updateConditions)
      trace->LogMsg(3, kComponent, "onUpdateConditions: %s", term.c_str());
    threads.push_back(CreatePoller(agentName, settings));
  }
  repository->TerminateSubSetEnumeration();
  return S_OK;
}

STDMETHODIMP CListening::Start() {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Called Start");
  for (auto& thread : threads) thread->Start();
  return S_OK;
}

STDMETHODIMP CListening::Stop() {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Called Stop");
  for (auto& thread : threads) thread->Stop();
  return S_OK;
}

STDMETHODIMP CListening::Terminate() {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Called Terminate");
  for (auto& thread : threads) {
    thread->Stop();
    thread.reset();
  }
  threads.clear();
  return S_OK;
}
