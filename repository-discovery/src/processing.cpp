// Like the discovery class, the methods need no per-module framework state: they use only
// the trace, remapper and converter of the utility library and the string conversions.
#include "processing.h"

#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>

#include <ctime>

#include "attribute_text.h"
#include "unlinked_objects.h"
#include <auralink/platform/text.h>

namespace {

constexpr const char* kComponent = "TNG:IProcessing";
constexpr const char* kAggregateClass = "Aggregate";
constexpr const char* kAggregateLinkType = "GEPC";

CTraceUtils* Trace() { return CTraceUtils::GetInstance(); }

// The status event of an object, before the object's fields are read.
CInstance NewStatusEvent() {
  CInstance event;
  event.m_type = CInstance::TYPE_EVENT;
  event.m_eventCategory = "MSG";
  event.m_eventType = "StatusText";
  event.m_eventTime = std::to_string(static_cast<long long>(std::time(nullptr)));
  return event;
}

// Fills the object and its event from the attribute text; parent fields wait for the links.
void ReadFields(const std::string& fields, CInstance& object, CInstance& event) {
  quillon::ForEachField(fields, [&](const quillon::AttributeField& field) {
    if (!field.isField || field.name == "parent_class" || field.name == "parent_uuid") return;
    const std::string value(field.value);
    if (field.name == "class_name") {
      object.m_className = value;
    } else if (field.name == "name") {
      object.m_name = value;
    } else if (field.name == "label") {
      object.m_attributes["label"] = value;
      object.m_attributes["description"] = value;
    } else if (field.name == "severity") {
      const std::string severity = quillon::SeverityName(field.value);
      event.m_eventSeverity = severity;
      event.m_qualifiedSeverity = "TNG_" + severity;
      object.m_attributes["severity"] = severity;
    } else if (field.name == "status_text") {
      event.m_eventDescription = value;
      object.m_attributes["status_text"] = value;
    } else {
      object.m_attributes[std::string(field.name)] = value;
    }
  });
}

// Element i of `array` is streams[i]; of an operation array, operations[i].
HRESULT PutStreams(SAFEARRAY* array, const std::vector<std::string>& streams) {
  HRESULT hr = S_OK;
  for (size_t i = 0; SUCCEEDED(hr) && i < streams.size(); ++i)
    hr = auralink::PutStringElement(array, static_cast<LONG>(i), streams[i].c_str());
  return hr;
}
HRESULT PutOperations(SAFEARRAY* array, const std::vector<LONG>& operations) {
  HRESULT hr = S_OK;
  for (size_t i = 0; SUCCEEDED(hr) && i < operations.size(); ++i)
    hr = auralink::PutOperationElement(array, static_cast<LONG>(i), operations[i]);
  return hr;
}

}  // namespace

STDMETHODIMP CProcessing::Initialize(BSTR agentName) {
  m_agentName = auralink::platform::BstrToNarrow(agentName);
  Trace()->LogMsg(3, kComponent, "Inside of CProcessing::Initialize. AgentName set to %s", m_agentName.c_str());
  return S_OK;
}

STDMETHODIMP CProcessing::Terminate() {
  Trace()->LogMsg(3, kComponent, "Inside of CProcessing::Terminate");
  return S_OK;
}

STDMETHODIMP CProcessing::ProcessingObject(LONG inOperation, BSTR objectID, BSTR listenedObject,
                                           LONG* lInstOpCount, SAFEARRAY** ppInstOpArray, LONG* lObjectCount,
                                           SAFEARRAY** ppObjArray) {
  Trace()->LogMsg(3, kComponent, "Inside of CProcessing::ProcessingObject");
  if (inOperation == auralink::REGISTRATIONNOTICE) {
    Trace()->LogMsg(3, kComponent, "Nothing to do for initializing");
    return S_OK;
  }
  if (!lInstOpCount || !ppInstOpArray || !lObjectCount || !ppObjArray) return E_POINTER;

  CInstance event = NewStatusEvent();
  CInstance object;
  object.m_type = CInstance::TYPE_INSTANCE;
  const quillon::ObjectIdentifier identifier =
      quillon::ReadObjectIdentifier(auralink::platform::BstrToNarrow(objectID));
  object.m_id = identifier.id;
  object.m_keys[identifier.key] = identifier.id;
  object.m_attributes["uuid"] = identifier.id;
  event.m_eventObjectId = identifier.id;

  const std::string fields = auralink::platform::BstrToNarrow(listenedObject);
  ReadFields(fields, object, event);
  object.m_sourceClass = object.m_className;
  object.m_sourceId = object.m_id;
  const std::string sourceClass = object.m_className;

  if (!CRemapper::GetInstance()->Remap(m_agentName, object)) {
    Trace()->LogMsg(2, kComponent, "Unable to remap the instance of the class %s with id %s. The instance will be discarded",
                    object.m_className.c_str(), object.m_id.c_str());
    return S_FALSE;
  }

  const CXMLConverter converter;
  std::string instanceStream;
  converter.Convert(object, instanceStream);
  Trace()->LogMsg(3, kComponent, "Made xml for the instance: %s", instanceStream.c_str());
  event.m_eventObjectClass = object.m_className;
  std::string eventStream;
  converter.Convert(event, eventStream);
  Trace()->LogMsg(3, kComponent, "Made xml for the event: %s", eventStream.c_str());

  // The streams and their operations, in array order: the instance (creation and
  // modification only), its links (creation only), the event last.
  std::vector<std::string> streams;
  std::vector<LONG> operations;
  if (inOperation == auralink::INSTANCECREATION || inOperation == auralink::INSTANCEMODIFICATION) {
    streams.push_back(instanceStream);
    operations.push_back(inOperation);
  }
  if (inOperation == auralink::INSTANCECREATION) {
    for (std::string& link : MakeLinks(object, sourceClass, fields, converter)) {
      streams.push_back(std::move(link));
      operations.push_back(auralink::LINKCREATION);
    }
  }
  streams.push_back(eventStream);
  operations.push_back(auralink::EVENTNOTIFICATION);

  const LONG count = static_cast<LONG>(streams.size());
  Trace()->LogMsg(3, kComponent, "Array dimension %d", static_cast<int>(count));
  *lObjectCount = count;
  *ppObjArray = auralink::CreatePayloadArray(count);
  if (!*ppObjArray) {
    Trace()->LogMsg(0, kComponent, "Unable to create the array that will contain the processed objs.");
    return E_OUTOFMEMORY;
  }
  HRESULT hr = PutStreams(*ppObjArray, streams);
  if (FAILED(hr)) return hr;
  *lInstOpCount = count;
  *ppInstOpArray = auralink::CreatePayloadArray(count);
  if (!*ppInstOpArray) {
    Trace()->LogMsg(0, kComponent, "Unable to create the array that will contain operations.");
    return E_OUTOFMEMORY;
  }
  return PutOperations(*ppInstOpArray, operations);
}

std::vector<std::string> CProcessing::MakeLinks(CInstance& object, const std::string& sourceClass,
                                                const std::string& fields, const CXMLConverter& converter) {
  std::vector<std::string> links;
  object.m_type = CInstance::TYPE_LINK;
  bool classSeen = false;
  bool idSeen = false;
  quillon::ForEachField(fields, [&](const quillon::AttributeField& field) {
    if (field.isField && field.name == "parent_class") {
      object.m_targetClass = std::string(field.value);
      classSeen = true;
    } else if (field.isField && field.name == "parent_uuid") {
      object.m_targetId = std::string(field.value);
      idSeen = true;
    }
    if (!classSeen || !idSeen) return;
    classSeen = idSeen = false;
    // A link's type depends on the child's own class. After an earlier link the source end
    // is already an Orvex class, which several source classes may share, so each link
    // starts again from the repository's class.
    object.m_sourceClass = sourceClass;
    if (!CRemapper::GetInstance()->Remap(m_agentName, object)) {
      Trace()->LogMsg(2, kComponent, "Unable to remap link with source %s and target %s", object.m_sourceClass.c_str(),
                      object.m_targetClass.c_str());
      return;
    }
    std::string link;
    converter.Convert(object, link);
    Trace()->LogMsg(3, kComponent, "Made xml for link %s", link.c_str());
    links.push_back(std::move(link));
  });

  if (links.empty()) {
    Trace()->LogMsg(1, kComponent, "Warning: the instance of the class %s with id %s has not a valid parent instance",
                    object.m_className.c_str(), object.m_id.c_str());
    object.m_sourceClass = object.m_className;
    object.m_targetClass = kAggregateClass;
    object.m_targetId = quillon::kUnlinkedObjectsId;
    object.m_linkType = kAggregateLinkType;
    std::string link;
    converter.Convert(object, link);
    Trace()->LogMsg(3, kComponent, "Made xml for link %s", link.c_str());
    links.push_back(std::move(link));
  }
  return links;
}
