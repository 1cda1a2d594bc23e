// Enumeration and retrieval through each agent's discovery class.
//
// One discovery object per agent, created and initialised on the first call and kept until
// Shutdown: a discovery run makes one GetInstance per object and must not reconnect to its
// source each time. The discovery classes are apartment-threaded and take no locks, while
// the Linux runtime does no marshalling between threads (Windows marshals a call from
// another apartment); the manager therefore serialises all calls into one agent's object,
// whichever thread they come from. Shutdown terminates and releases each object under that
// same lock, so it waits for a call under way; the next call creates a new object.
#include <windows.h>
#include <atlbase.h>
#include <auralink/agent_classes.h>
#include <auralink/config_keys.h>
#include <auralink/hub_components.h>
#include <auralink/payload_arrays.h>
#include <auralink/trace_utils.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>
#include <auralink/platform/text.h>


namespace {

constexpr const char* kComponent = "DiscoveryManager";

struct AgentDiscovery {
  std::recursive_mutex calls;  // held for every call into `object`
  CComPtr<IDiscovery> object;
};

// The agent's discovery object, created and initialised with the agent name when missing.
// Null, after a trace line, when that fails; the next call tries again.
IDiscovery* DiscoveryOf(AgentDiscovery& discovery, const std::string& agent) {
  if (discovery.object) return discovery.object;
  CComPtr<IDiscovery> object;
  object.Attach(auralink::CreateAgentClass<IDiscovery>(kComponent, agent, auralink::config::kDiscoveryId));
  if (!object) return nullptr;
  CComBSTR name(agent);
  HRESULT hr = name.m_str ? object->Initialize(name) : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Agent %s: Initialize of the discovery class failed (hr = 0x%08X)",
                                       agent.c_str(), static_cast<unsigned>(hr));
    return nullptr;
  }
  discovery.object = std::move(object);
  return discovery.object;
}

// IHub takes parameter sets as arrays of VARIANT, IDiscovery as arrays of BSTR. Writes a
// new BSTR array into `converted` (null for a null array; null elements stay null). False,
// after a trace line, when the array is not a one-dimensional VARIANT array or an element
// has no text form.
bool ToBstrArray(const std::string& agent, SAFEARRAY** parameters, auralink::PayloadArray& converted) {
  converted.Reset();
  if (!parameters || !*parameters) return true;
  CTraceUtils* trace = CTraceUtils::GetInstance();
  SAFEARRAY* source = *parameters;
  VARTYPE type = VT_EMPTY;
  LONG lower = 0;
  LONG upper = -1;
  if (SafeArrayGetDim(source) != 1 || FAILED(SafeArrayGetVartype(source, &type)) || type != VT_VARIANT ||
      FAILED(SafeArrayGetLBound(source, 1, &lower)) || FAILED(SafeArrayGetUBound(source, 1, &upper))) {
    trace->LogMsg(0, kComponent, "Agent %s: the parameter set is not a one-dimensional array of VARIANT", agent.c_str());
    return false;
  }
  ULONG count = upper >= lower ? static_cast<ULONG>(upper - lower + 1) : 0;
  SAFEARRAY* target = SafeArrayCreateVector(VT_BSTR, 0, count);
  if (!target) {
    trace->LogMsg(0, kComponent, "Agent %s: out of memory for the parameter set", agent.c_str());
    return false;
  }
  converted.Reset(target);
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    LONG position = lower + i;
    VARIANT element;
    VariantInit(&element);
    HRESULT hr = SafeArrayGetElement(source, &position, &element);
    if (SUCCEEDED(hr) && V_VT(&element) != VT_BSTR && V_VT(&element) != VT_EMPTY && V_VT(&element) != VT_NULL) {
      VARIANT text;
      VariantInit(&text);
      hr = VariantChangeType(&text, &element, 0, VT_BSTR);
      VariantClear(&element);
      element = text;
    }
    if (FAILED(hr)) {
      trace->LogMsg(0, kComponent, "Agent %s: parameter %d has no text form (type %u, hr = 0x%08X)", agent.c_str(),
                    static_cast<int>(i), static_cast<unsigned>(V_VT(&element)), static_cast<unsigned>(hr));
      VariantClear(&element);
      converted.Reset();
      return false;
    }
    // VT_EMPTY and VT_NULL leave the element a null BSTR.
    if (V_VT(&element) == VT_BSTR && V_BSTR(&element)) {
      hr = SafeArrayPutElement(target, &i, V_BSTR(&element));  // copies the string
    }
    VariantClear(&element);
    if (FAILED(hr)) {
      trace->LogMsg(0, kComponent, "Agent %s: unable to pass parameter %d (hr = 0x%08X)", agent.c_str(),
                    static_cast<int>(i), static_cast<unsigned>(hr));
      converted.Reset();
      return false;
    }
  }
  return true;
}

}  // namespace

struct CDiscoveryManager::State {
  std::mutex mutex;
  std::map<std::string, AgentDiscovery> agents;  // nodes stay put; never erased

  std::vector<std::pair<std::string, AgentDiscovery*>> All() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::pair<std::string, AgentDiscovery*>> all;
    for (auto& [agent, discovery] : agents) all.emplace_back(agent, &discovery);
    return all;
  }

  AgentDiscovery& Of(const std::string& agent) {
    std::lock_guard<std::mutex> lock(mutex);
    return agents[agent];
  }
};

CDiscoveryManager::CDiscoveryManager() : state_(std::make_unique<State>()) {}
CDiscoveryManager::~CDiscoveryManager() = default;

CDiscoveryManager* CDiscoveryManager::GetInstance() {
  // Never destroyed: the discovery objects live in modules that may be gone at exit.
  static CDiscoveryManager* instance = new CDiscoveryManager();
  return instance;
}

int CDiscoveryManager::EnumInstances(const char* agentName, BSTR classPath, LONG dip, SAFEARRAY** parameterSet,
                                     LONG* count, SAFEARRAY** instanceIds) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!agentName || !*agentName) {
    trace->LogMsg(0, kComponent, "EnumInstances called without an agent name");
    return 0;
  }
  std::string agent = agentName;
  trace->LogMsg(3, kComponent, "Agent %s: EnumInstances (class %s)", agent.c_str(),
                auralink::platform::BstrToNarrow(classPath).c_str());
  auralink::PayloadArray parameters;
  if (!ToBstrArray(agent, parameterSet, parameters)) return 0;
  SAFEARRAY* parameterArray = parameters.Get();

  AgentDiscovery& discovery = state_->Of(agent);
  std::lock_guard<std::recursive_mutex> serialised(discovery.calls);
  IDiscovery* object = DiscoveryOf(discovery, agent);
  if (!object) return 0;
  // Always the address of the (possibly null) array: a pointer parameter is a reference to
  // COM's marshaller, which refuses a null one when the object lives in another apartment.
  HRESULT hr = object->EnumInstances(classPath, dip, &parameterArray, count, instanceIds);
  if (FAILED(hr)) {
    trace->LogMsg(0, kComponent, "Agent %s: EnumInstances of the class \"%s\" failed (hr = 0x%08X)", agent.c_str(),
                  auralink::platform::BstrToNarrow(classPath).c_str(), static_cast<unsigned>(hr));
    return 0;
  }
  return 1;
}

int CDiscoveryManager::GetInstance(const char* agentName, BSTR instanceID, LONG localOnly,
                                   SAFEARRAY** parameterSetList, BSTR* instance) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!agentName || !*agentName) {
    trace->LogMsg(0, kComponent, "GetInstance called without an agent name");
    return 0;
  }
  std::string agent = agentName;
  // The identifier goes to the trace as the wide text it is: no conversion when the line is
  // filtered out.
  trace->LogMsg(3, kComponent, "Agent %s: GetInstance (%S)", agent.c_str(), instanceID ? instanceID : L"");
  auralink::PayloadArray parameters;
  if (!ToBstrArray(agent, parameterSetList, parameters)) return 0;
  SAFEARRAY* parameterArray = parameters.Get();

  AgentDiscovery& discovery = state_->Of(agent);
  std::lock_guard<std::recursive_mutex> serialised(discovery.calls);
  IDiscovery* object = DiscoveryOf(discovery, agent);
  if (!object) return 0;
  HRESULT hr = object->GetInstance(instanceID, localOnly, &parameterArray, instance);  // as in EnumInstances
  if (FAILED(hr)) {
    trace->LogMsg(0, kComponent, "Agent %s: GetInstance of \"%s\" failed (hr = 0x%08X)", agent.c_str(),
                  auralink::platform::BstrToNarrow(instanceID).c_str(), static_cast<unsigned>(hr));
    return 0;
  }
  return 1;
}

int CDiscoveryManager::Shutdown() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  int result = 1;
  for (auto& [agent, discovery] : state_->All()) {
    std::lock_guard<std::recursive_mutex> serialised(discovery->calls);
    if (!discovery->object) continue;
    HRESULT hr = discovery->object->Terminate();
    discovery->object.Release();
    if (FAILED(hr)) {
      trace->LogMsg(0, kComponent, "Agent %s: Terminate of the discovery class failed (hr = 0x%08X)", agent.c_str(),
                    static_cast<unsigned>(hr));
      result = 0;
    } else {
      trace->LogMsg(1, kComponent, "Agent %s: discovery class terminated", agent.c_str());
    }
  }
  return result;
}
