// Operations: an object of the agent becomes Orvex traffic. The processing manager makes
// the operations and their XML streams; each goes to the Java call of its code. Every Java
// call is timed, so slow Orvex round trips show in the trace.
#include <atlbase.h>
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>
#include <auralink/processing_manager.h>
#include <auralink/trace_utils.h>
#include <windows.h>
#include <stringapiset.h>
#include <windows.h>

#include <memory>

#include "adapter_constants.h"
#include "exception_text.h"
#include "java_bridge.h"
#include "orvex_adapter.h"
#include "orvex_settings_access.h"
#include <auralink/platform/text.h>

using auralink::orvex::CurrentExceptionText;
using auralink::orvex::kAdapterComponent;

namespace {

// Whole seconds since `start` (a tick count).
int SecondsSince(DWORD start) { return static_cast<int>((GetTickCount() - start) / 1000); }

// The lines of an operation's list entry: "ProcessingObject returned (NAME -> stream)".
void TraceListedOperation(LONG code, BSTR stream) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (code == auralink::BEGINNOTIFICATION || code == auralink::ENDNOTIFICATION)
    trace->LogMsg(3, kAdapterComponent, "ProcessingObject called (%s)", auralink::OperationName(code));
  else
    trace->LogMsg(3, kAdapterComponent, "ProcessingObject returned (%s -> %S)", auralink::OperationName(code),
                  stream ? stream : L"");
}

std::wstring_view TextOf(BSTR text) { return text ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view(); }

}  // namespace

// What differs between the six forwarding calls.
struct COrvexAdapter::ForwardingCall {
  const char* notInitializedLine;
  const char* calledLine;
  const char* parameterLine;
  const char* failureLine;
  const char* elapsedLine;
  void (JavaBridge::*withWait)(const std::string&, const XmlTextParameter&, int);
  void (JavaBridge::*withoutWait)(const std::string&, const XmlTextParameter&);
};

namespace {
constexpr const char* kParameterLine = "Unable to create an instance parameter. Exception thrown: %s";
}

// The identifier and the text go on to the processing class as the BSTRs they came as,
// and each stream goes from its BSTR to Java: no text is converted back and forth.
int COrvexAdapter::HandleOperation(LONG operation, BSTR id, BSTR instanceText) {
  CComBSTR objectId;
  CComBSTR text;
  objectId.Attach(id);
  text.Attach(instanceText);

  CTraceUtils* trace = CTraceUtils::GetInstance();
  const LONG code = operation & 0xFFFF;
  LONG opCount = 0;
  LONG objCount = 0;
  auralink::PayloadArray operations;
  auralink::PayloadArray objects;
  int ok = 0;
  if (code == auralink::BEGINNOTIFICATION) {
    ok = BeginDiscovery(1) != 0;
  } else if (code == auralink::ENDNOTIFICATION) {
    ok = CommitDiscovery() != 0;
  } else {
    const DWORD start = GetTickCount();
    const LONG processed = code == auralink::LISTENEREVENT ? auralink::EVENTNOTIFICATION : code;
    if (!CProcessingManager::GetInstance()->ProcessingObject(agentName.c_str(), processed, objectId.m_str,
                                                             text.m_str, &opCount, operations.Receive(), &objCount,
                                                             objects.Receive())) {
      trace->LogMsg(0, kAdapterComponent, "Processing of the instance with id %S returned with error",
                    objectId.m_str ? objectId.m_str : L"");
      return 0;
    }
    trace->LogMsg(3, kAdapterComponent, "Time elapsed for processing instance %d sec", SecondsSince(start));
    trace->LogMsg(3, kAdapterComponent, "Processing required to send %d messages", static_cast<int>(opCount));
    ok = 1;
  }

  // Element i of the object array belongs to element i of the operation array.
  for (LONG i = 0; i < opCount; ++i) {
    trace->LogMsg(3, kAdapterComponent, "Getting the %dth operation", static_cast<int>(i));
    LONG listed = 0;
    if (FAILED(auralink::GetOperationElement(operations.Get(), i, &listed))) {
      trace->LogMsg(0, kAdapterComponent, "Unable to get instance operation from array");
      continue;
    }
    trace->LogMsg(3, kAdapterComponent, "Getting the %dth stream", static_cast<int>(i));
    CComBSTR stream;
    if (FAILED(auralink::GetBstrElement(objects.Get(), i, &stream))) {
      trace->LogMsg(0, kAdapterComponent, "Unable to get instance from array");
      continue;
    }
    switch (listed) {
      case auralink::INSTANCECREATION:
        TraceListedOperation(listed, stream.m_str);
        if (ok) ok = AddInstance(TextOf(stream.m_str)) != 0;
        break;
      case auralink::INSTANCEMODIFICATION:
        TraceListedOperation(listed, stream.m_str);
        if (ok) ok = UpdateInstance(TextOf(stream.m_str)) != 0;
        break;
      case auralink::INSTANCEDELETION:
        TraceListedOperation(listed, stream.m_str);
        if (ok) ok = DeleteInstance(TextOf(stream.m_str)) != 0;
        break;
      case auralink::LINKCREATION:
        TraceListedOperation(listed, stream.m_str);
        if (ok) ok = AddLink(TextOf(stream.m_str)) != 0;
        break;
      case auralink::LINKDELETION:
        TraceListedOperation(listed, stream.m_str);
        if (ok) ok = DeleteLink(TextOf(stream.m_str)) != 0;
        break;
      case auralink::BEGINNOTIFICATION:
        TraceListedOperation(listed, stream.m_str);
        if (ok) ok = BeginDiscovery(1) != 0;
        break;
      case auralink::ENDNOTIFICATION:
        TraceListedOperation(listed, stream.m_str);
        if (ok) ok = CommitDiscovery() != 0;
        break;
      case auralink::FILTERED:
        TraceListedOperation(listed, stream.m_str);  // logged, never sent
        break;
      case auralink::EVENTNOTIFICATION:
        TraceListedOperation(listed, stream.m_str);
        if (ok) ok = SendEvent(TextOf(stream.m_str)) != 0;
        break;
      default:
        trace->LogMsg(0, kAdapterComponent, "Unable to establish operation");
        break;
    }
  }
  return ok;
}

int COrvexAdapter::BeginDiscovery(int delta) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!initialized) {
    trace->LogMsg(0, kAdapterComponent, "Adapter wasn't initialized. BeginDiscovery cannot be executed");
    return 0;
  }
  if (discoveryOpen) {
    trace->LogMsg(2, kAdapterComponent, "Discovery has been already initiated without committed");
    return 1;
  }
  trace->LogMsg(1, kAdapterComponent, "Begin discovery");
  const DWORD start = GetTickCount();
  int kind = 0;
  const char* success = nullptr;
  const char* failure = nullptr;
  switch (delta & 0xFFFF) {
    case 0:
      kind = auralink::orvex::BULK_DISCOVERY;
      success = "BeginDiscovery successfully: BULK discovery";
      failure = "Unable to begin discovery: BULK discovery. Exception thrown: %s";
      break;
    case 1:
      kind = auralink::orvex::DELTA_DISCOVERY;
      success = "BeginDiscovery successfully: DELTA discovery";
      failure = "Unable to begin discovery: DELTA discovery. Exception thrown: %s";
      break;
    default:
      trace->LogMsg(0, kAdapterComponent, "Unable to establish the discovery type");
      return 0;
  }
  trace->LogMsg(3, kAdapterComponent, "Calling method on the OrvexAdapter pointer");
  try {
    bridge->beginDiscovery(instrumentationId, kind);
  } catch (...) {
    trace->LogMsg(0, kAdapterComponent, failure, CurrentExceptionText().c_str());
    return 0;
  }
  trace->LogMsg(0, kAdapterComponent, "%s", success);
  discoveryOpen = 1;
  trace->LogMsg(2, kAdapterComponent, "Time elapsed for initializing discovery %d sec", SecondsSince(start));
  return 1;
}

int COrvexAdapter::CommitDiscovery() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!initialized) {
    trace->LogMsg(0, kAdapterComponent, "Adapter wasn't initialized. EndDiscovery cannot be executed");
    return 0;
  }
  const DWORD start = GetTickCount();
  trace->LogMsg(1, kAdapterComponent, "Commit discovery");
  trace->LogMsg(3, kAdapterComponent, "Calling method on the OrvexAdapter pointer");
  try {
    bridge->commitDiscovery(instrumentationId);
  } catch (...) {
    trace->LogMsg(0, kAdapterComponent, "Unable to commit discovery. Exception thrown: %s",
                  CurrentExceptionText().c_str());
    return 0;  // the discovery stays open
  }
  trace->LogMsg(0, kAdapterComponent, "CommitDiscovery successfully");
  trace->LogMsg(2, kAdapterComponent, "Time elapsed for committing discovery %d sec", SecondsSince(start));
  discoveryOpen = 0;
  return 1;
}

int COrvexAdapter::Forward(const ForwardingCall& call, std::wstring_view text) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!initialized) {
    trace->LogMsg(0, kAdapterComponent, "%s", call.notInitializedLine);
    return 0;
  }
  trace->LogMsg(3, kAdapterComponent, "%s", call.calledLine);
  const DWORD start = GetTickCount();
  std::unique_ptr<XmlTextParameter> parameter;
  try {
    parameter = std::make_unique<XmlTextParameter>(text);
  } catch (...) {
    trace->LogMsg(0, kAdapterComponent, call.parameterLine, CurrentExceptionText().c_str());
    return 0;
  }
  trace->LogMsg(3, kAdapterComponent, "Calling method on the OrvexAdapter pointer");
  try {
    if (call.withWait)
      (bridge->*call.withWait)(instrumentationId, *parameter, responseWait);
    else
      (bridge->*call.withoutWait)(instrumentationId, *parameter);
    trace->LogMsg(3, kAdapterComponent, "OrvexAdapter method returned");
  } catch (...) {
    trace->LogMsg(0, kAdapterComponent, call.failureLine, CurrentExceptionText().c_str());
    return 0;
  }
  parameter.reset();
  trace->LogMsg(3, kAdapterComponent, call.elapsedLine, SecondsSince(start));
  return 1;
}

int COrvexAdapter::AddInstance(std::wstring_view text) {
  static constexpr ForwardingCall kCall{"Adapter wasn't initialized. AddInstance cannot be executed",
                                        "AddInstance called",
                                        "Unable to create an instance parameter. Exception thrown:  %s",
                                        "Unable to add an instance. Exception thrown:  %s",
                                        "Time elapsed for adding instance %d sec",
                                        &JavaBridge::addObjectInstances,
                                        nullptr};
  return Forward(kCall, text);
}

int COrvexAdapter::UpdateInstance(std::wstring_view text) {
  static constexpr ForwardingCall kCall{"Adapter wasn't initialized. UpdateInstance cannot be executed",
                                        "UpdateInstance called",
                                        kParameterLine,
                                        "Unable to update an instance. Exception thrown: %s",
                                        "Time elapsed for updating instance %d sec",
                                        &JavaBridge::modifyObjectInstances,
                                        nullptr};
  return Forward(kCall, text);
}

int COrvexAdapter::DeleteInstance(std::wstring_view text) {
  static constexpr ForwardingCall kCall{"Adapter wasn't initialized. DeleteInstance cannot be executed",
                                        "DeleteInstance called",
                                        kParameterLine,
                                        "Unable to delete an instance. Exception thrown: %s",
                                        "Time elapsed for deleting instance %d sec",
                                        &JavaBridge::deleteObjectInstances,
                                        nullptr};
  return Forward(kCall, text);
}

int COrvexAdapter::AddLink(std::wstring_view text) {
  static constexpr ForwardingCall kCall{"Adapter wasn't initialized. AddLink cannot be executed",
                                        "AddLink called",
                                        kParameterLine,
                                        "Unable to add a link. Exception thrown: %s",
                                        "Time elapsed for adding link %d sec",
                                        &JavaBridge::addLinkInstances,
                                        nullptr};
  return Forward(kCall, text);
}

int COrvexAdapter::DeleteLink(std::wstring_view text) {
  static constexpr ForwardingCall kCall{"Adapter wasn't initialized. DeleteLink cannot be executed",
                                        "DeleteLink called",
                                        kParameterLine,
                                        "Unable to delete a link. Exception thrown: %s",
                                        "Time elapsed for deleting link %d sec",
                                        &JavaBridge::deleteLinkInstances,
                                        nullptr};
  return Forward(kCall, text);
}

int COrvexAdapter::SendEvent(std::wstring_view text) {
  static constexpr ForwardingCall kCall{"Adapter wasn't initialized. SendEvent cannot be executed",
                                        "SendEvent called",
                                        kParameterLine,
                                        "Unable to send an event. Exception thrown: %s",
                                        "Time elapsed for sending event %d sec",
                                        nullptr,
                                        &JavaBridge::sendEvent};
  return Forward(kCall, text);
}
