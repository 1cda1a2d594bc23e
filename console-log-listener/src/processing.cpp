// Methods run on the caller's thread and use only the trace, the configuration
// repository, the instance model and the object tree, none of which depend on a
// per-module framework state.
#include "processing.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/object_tree.h>
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>
#include <auralink/trace_utils.h>
#include <auralink/xml_converter.h>
#include <auralink/platform/text.h>

namespace {

constexpr const char* kComponent = "Marrowby:IProcessing";
constexpr const char* kTreeAgent = "MarrowbyLst";
constexpr const char* kManagerName = "TNGEventManager";
constexpr DWORD kValueSize = 260;

CTraceUtils* Trace() { return CTraceUtils::GetInstance(); }

// The member of an event object that a stream key fills; null for other keys.
std::string* EventMember(CInstance& event, std::string_view key) {
  if (key == "_GmtEpochTime") return &event.m_eventTime;
  if (key == "type") return &event.m_eventType;
  if (key == "action") return &event.m_eventAction;
  if (key == "_Description") return &event.m_eventDescription;
  if (key == "_Status") return &event.m_eventStatus;
  return nullptr;
}

}  // namespace

STDMETHODIMP CProcessing::Initialize(BSTR name) {
  agentName = auralink::platform::BstrToNarrow(name);
  Trace()->LogMsg(1, "MARROWBY.....", "Inside of CProcessing EVENTS..::Initialize.");
  Trace()->LogMsg(1, "TNG:IProcessing", "Inside of CProcessing::Initialize. AgentName set to %s", agentName.c_str());
  char mask[kValueSize] = "";
  DWORD size = kValueSize;
  if (CConfRepositoryManager::GetInstance()->ReadStr(auralink::config::EventListeningKey(agentName).c_str(),
                                                     auralink::config::kSubnetMask, nullptr, mask, &size)) {
    subnetMask = mask;
  }
  return S_OK;
}

void CProcessing::ParseEventStream(std::string_view stream, CInstance& event) {
  for (size_t end = stream.find('|'); end != std::string_view::npos; end = stream.find('|')) {
    std::string_view pair = stream.substr(0, end);
    stream.remove_prefix(end + 1);
    size_t equals = pair.find('=');
    if (equals == std::string_view::npos) continue;
    if (std::string* member = EventMember(event, pair.substr(0, equals))) member->assign(pair.substr(equals + 1));
  }
}

STDMETHODIMP CProcessing::ProcessingObject(LONG inOperation, BSTR /*objectID*/, BSTR listenedObject,
                                           LONG* lInstOpCount, SAFEARRAY** ppInstOpArray, LONG* lObjectCount,
                                           SAFEARRAY** ppObjArray) {
  Trace()->LogMsg(3, kComponent, "Inside of CProcessing::ProcessingObject");
  if (!lInstOpCount || !ppInstOpArray || !lObjectCount || !ppObjArray) return E_POINTER;

  if (inOperation == auralink::REGISTRATIONNOTICE) {
    Trace()->LogMsg(3, kComponent, "Instantiating object tree");
    if (!BuildObjectTree(kTreeAgent, subnetMask, kManagerName, objectId, lInstOpCount, ppInstOpArray, lObjectCount,
                         ppObjArray)) {
      Trace()->LogMsg(0, kComponent, "Unable to make tree");
      return E_FAIL;
    }
    Trace()->LogMsg(1, kComponent, "Tree successfully created");
    return S_OK;
  }

  CInstance event;
  event.m_type = CInstance::TYPE_EVENT;
  event.m_eventCategory = "MSG";
  event.m_eventObjectClass = "SoftwareElement";
  event.m_eventObjectId = objectId;
  ParseEventStream(auralink::platform::BstrToNarrow(listenedObject), event);
  std::string xml;
  CXMLConverter().Convert(event, xml);

  *lObjectCount = 1;
  *ppObjArray = auralink::CreatePayloadArray(1);
  if (!*ppObjArray || FAILED(auralink::PutStringElement(*ppObjArray, 0, xml.c_str()))) {
    Trace()->LogMsg(0, kComponent, "Unable to create the array that will contain the processed objs.");
    return E_OUTOFMEMORY;
  }
  *lInstOpCount = 1;
  *ppInstOpArray = auralink::CreatePayloadArray(1);
  if (!*ppInstOpArray || FAILED(auralink::PutOperationElement(*ppInstOpArray, 0, inOperation))) {
    Trace()->LogMsg(0, kComponent, "Unable to create the array that will contain operations.");
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP CProcessing::Terminate() { return S_OK; }
