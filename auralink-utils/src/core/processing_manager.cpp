#include <windows.h>
#include <atlbase.h>
#include <auralink/agent_classes.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>
#include <auralink/processing_manager.h>
#include <auralink/trace_utils.h>
#include <objbase.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>


namespace {

constexpr const char* kComponent = "ProcessingManager";

// One agent's processing object. Calls for an agent are serialised: the processing classes
// are apartment-threaded and keep no locks, while sinks call from several threads.
struct AgentProcessor {
  std::recursive_mutex callMutex;
  CComPtr<IProcessing> object;  // kept until Shutdown
};

// Creates the agent's processing class through its "ProcessingID" and initialises it with
// the agent name. Null, after a trace line, when that fails.
IProcessing* CreateProcessor(const std::string& agentName) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  IProcessing* processor =
      auralink::CreateAgentClass<IProcessing>(kComponent, agentName, auralink::config::kProcessingId);
  if (!processor) return nullptr;
  CComBSTR name(agentName);
  HRESULT hr = name.m_str ? processor->Initialize(name) : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    trace->LogMsg(0, kComponent, "Unable to initialize the processing class of the agent %s (hr = 0x%08X)",
                  agentName.c_str(), static_cast<unsigned>(hr));
    processor->Release();
    return nullptr;
  }
  trace->LogMsg(2, kComponent, "Processing class created for the agent %s", agentName.c_str());
  return processor;
}

}  // namespace

struct CProcessingManager::Agents {
  std::mutex mutex;
  std::map<std::string, AgentProcessor> byName;

  AgentProcessor& For(const std::string& agentName) {
    std::lock_guard<std::mutex> lock(mutex);
    return byName[agentName];  // map nodes stay put, so the reference outlives the lock
  }

  std::vector<std::pair<std::string, AgentProcessor*>> All() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::pair<std::string, AgentProcessor*>> all;
    for (auto& [agentName, processor] : byName) all.emplace_back(agentName, &processor);
    return all;
  }
};

CProcessingManager::CProcessingManager() : agents_(std::make_unique<Agents>()) {}
CProcessingManager::~CProcessingManager() = default;

CProcessingManager* CProcessingManager::GetInstance() {
  // Never destroyed: the processing objects live in modules that may be gone at exit.
  static CProcessingManager* instance = new CProcessingManager();
  return instance;
}

int CProcessingManager::ProcessingObject(const char* agentName, LONG operation, const char* objectId,
                                         const char* stream, LONG* opCount, SAFEARRAY** opArray, LONG* objCount,
                                         SAFEARRAY** objArray) {
  CComBSTR id(objectId ? objectId : "");
  CComBSTR text(stream ? stream : "");
  if (!id || !text) {
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Out of memory while passing the object %s of the agent %s",
                                       objectId ? objectId : "", agentName ? agentName : "");
    return 0;
  }
  return ProcessingObject(agentName, operation, id.m_str, text.m_str, opCount, opArray, objCount, objArray);
}

int CProcessingManager::ProcessingObject(const char* agentName, LONG operation, BSTR objectId, BSTR stream,
                                         LONG* opCount, SAFEARRAY** opArray, LONG* objCount, SAFEARRAY** objArray) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!agentName || !*agentName || !opCount || !opArray || !objCount || !objArray) {
    trace->LogMsg(0, kComponent, "ProcessingObject called without an agent name or without its outputs");
    return 0;
  }
  std::string agent = agentName;
  AgentProcessor& processor = agents_->For(agent);
  std::lock_guard<std::recursive_mutex> lock(processor.callMutex);
  if (!processor.object) {
    processor.object.Attach(CreateProcessor(agent));
    if (!processor.object) return 0;
  }

  // A null BSTR is the empty text to COM; the class receives it as it is.
  const wchar_t* shownId = objectId ? objectId : L"";
  LONG operations = 0;
  LONG objects = 0;
  auralink::PayloadArray operationArray;
  auralink::PayloadArray objectArray;
  HRESULT hr = processor.object->ProcessingObject(operation, objectId, stream, &operations,
                                                  operationArray.Receive(), &objects, objectArray.Receive());
  if (FAILED(hr)) {
    trace->LogMsg(0, kComponent, "Processing of the object %S (operation %d) of the agent %s failed (hr = 0x%08X)",
                  shownId, static_cast<int>(operation), agentName, static_cast<unsigned>(hr));
    return 0;  // whatever arrays came back go with the holders
  }
  if (hr == S_FALSE) {
    trace->LogMsg(2, kComponent, "The processing class of the agent %s declined the object %S", agentName, shownId);
    operations = 0;
    objects = 0;
    operationArray.Reset();
    objectArray.Reset();
  }
  *opCount = operations;
  *objCount = objects;
  *opArray = operationArray.Detach();
  *objArray = objectArray.Detach();
  return 1;
}

int CProcessingManager::Shutdown() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  int result = 1;
  for (auto& [agentName, processor] : agents_->All()) {
    std::lock_guard<std::recursive_mutex> lock(processor->callMutex);  // waits for a call under way
    if (!processor->object) continue;
    HRESULT hr = processor->object->Terminate();
    processor->object.Release();
    if (FAILED(hr)) {
      trace->LogMsg(0, kComponent, "Terminate of the processing class of the agent %s failed (hr = 0x%08X)",
                    agentName.c_str(), static_cast<unsigned>(hr));
      result = 0;
    } else {
      trace->LogMsg(2, kComponent, "Processing class of the agent %s terminated", agentName.c_str());
    }
  }
  return result;
}
