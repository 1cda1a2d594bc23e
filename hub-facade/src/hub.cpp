// Every method works with nothing but the trace singleton, the string conversions and the
// hub components' managers, none of which depend on a per-module framework state; so a
// call needs no state switch to run inside the module.
#include "hub.h"

#include <auralink/hub_components.h>
#include <auralink/trace_utils.h>
#include <auralink/platform/text.h>

namespace {

constexpr const char* kComponent = "Hub";
constexpr const char* kNoAgentName =
    "Operation cannot be executed. Agent name must be set before executing the operation";

HRESULT Result(int managerResult) { return managerResult ? S_OK : E_FAIL; }

}  // namespace

bool CHub::HasAgentName() const {
  if (!m_agentName.empty()) return true;
  CTraceUtils::GetInstance()->LogMsg(0, kComponent, "%s", kNoAgentName);
  return false;
}

STDMETHODIMP CHub::Unsubscribe(LONG cid) {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Inside of CHub::Unsubscribe (agentName %s)", m_agentName.c_str());
  if (!HasAgentName()) return E_FAIL;
  return Result(CListeningManager::GetInstance()->Unsubscribe(cid));
}

STDMETHODIMP CHub::Subscribe(IHubSink* pIHubSink, LONG* cid) {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Inside of CHub::Subscribe");
  if (!HasAgentName()) return E_FAIL;
  std::string agentName = m_agentName;
  return Result(CListeningManager::GetInstance()->Subscribe(agentName.c_str(), pIHubSink, cid));
}

STDMETHODIMP CHub::GetInstance(BSTR instanceID, LONG localOnly, SAFEARRAY** ParameterSetList, BSTR* Instance) {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Inside of CHub::GetInstance");
  if (!HasAgentName()) return E_FAIL;
  std::string agentName = m_agentName;
  return Result(
      CDiscoveryManager::GetInstance()->GetInstance(agentName.c_str(), instanceID, localOnly, ParameterSetList, Instance));
}

STDMETHODIMP CHub::EnumInstances(BSTR classPath, LONG dip, SAFEARRAY** ParameterSet, LONG* lObjectCount,
                                 SAFEARRAY** InstanceIds) {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Inside of CHub::EnumInstances");
  if (!HasAgentName()) return E_FAIL;
  std::string agentName = m_agentName;
  return Result(CDiscoveryManager::GetInstance()->EnumInstances(agentName.c_str(), classPath, dip, ParameterSet,
                                                                lObjectCount, InstanceIds));
}

STDMETHODIMP CHub::SetAgentName(BSTR agentName) {
  m_agentName = auralink::platform::BstrToNarrow(agentName);
  CTraceUtils::GetInstance()->LogMsg(0, kComponent, "The agent name was set to %s", m_agentName.c_str());
  return S_OK;
}
