// The methods use only the trace singleton, the remapper, the connection and the string
// conversions, none of which depend on a per-module framework state; so a call needs no
// state switch to run inside the module.
#include "discovery.h"

#include <auralink/payload_arrays.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>

#include <map>
#include <vector>

#include "unlinked_objects.h"

namespace {

constexpr const char* kComponent = "TNG:IDiscovery";

CTraceUtils* Trace() { return CTraceUtils::GetInstance(); }

}  // namespace

STDMETHODIMP CDiscovery::Initialize(BSTR agentName) {
  m_agentName = auralink::platform::BstrToNarrow(agentName);
  Trace()->LogMsg(3, kComponent, "Inside of CDiscovery::Initialize. AgentName set to %s", m_agentName.c_str());
  Trace()->LogMsg(0, kComponent, "Opening TNG database");
  if (m_db.OpenDb() != 0) {
    Trace()->LogMsg(0, kComponent, "Unable to open the TNG Database");
    return E_FAIL;
  }
  Trace()->LogMsg(0, kComponent, "TNG Database successfully opened");
  return S_OK;
}

STDMETHODIMP CDiscovery::EnumInstances(BSTR classPath, LONG /*dip*/, SAFEARRAY** /*ParameterSet*/,
                                       LONG* lObjectCount, SAFEARRAY** InstanceIds) {
  Trace()->LogMsg(3, kComponent, "Inside of CDiscovery::EnumInstances");
  if (!lObjectCount || !InstanceIds) return E_POINTER;
  std::string className = auralink::platform::BstrToNarrow(classPath);
  const bool allClasses = className.empty();

  std::map<std::string, CGenericClass> classes;
  if (!CRemapper::GetInstance()->GetClasses(m_agentName, classes)) return E_FAIL;

  std::string query;
  if (allClasses) {
    query = quillon::AllClassesUuidQuery(classes);
    Trace()->LogMsg(1, kComponent, "Getting all object uuids");
  } else {
    if (classes.find(className) == classes.end()) {
      Trace()->LogMsg(0, kComponent, "Instances of class %s cannot be enumerated. Class not supported",
                      className.c_str());
      return E_FAIL;
    }
    query = quillon::OneClassUuidQuery(className);
    Trace()->LogMsg(1, kComponent, "Getting uuids of instances of the class %s", className.c_str());
  }

  std::vector<TabEntry> rows;
  std::vector<std::string> columns;
  if (m_db.MakeQuery(query, rows, columns) != 0) {
    Trace()->LogMsg(0, kComponent, "Unable to get object uuids");
    return E_FAIL;
  }

  const LONG first = allClasses ? 1 : 0;  // the unlinked-objects aggregate leads the full list
  const LONG count = static_cast<LONG>(rows.size()) + first;
  Trace()->LogMsg(1, kComponent, "Object uuids have been successfully gotten (num = %d)", static_cast<int>(count));
  *lObjectCount = count;
  *InstanceIds = auralink::CreatePayloadArray(count);  // the caller's array is the caller's
  if (!*InstanceIds) {
    Trace()->LogMsg(0, kComponent, "Unable to create the array that will contain the instance ids.");
    return E_OUTOFMEMORY;
  }
  HRESULT hr = S_OK;
  if (allClasses) hr = auralink::PutStringElement(*InstanceIds, 0, quillon::kUnlinkedObjectsId);
  for (LONG i = 0; SUCCEEDED(hr) && i < static_cast<LONG>(rows.size()); ++i) {
    hr = auralink::PutStringElement(*InstanceIds, first + i, rows[static_cast<size_t>(i)].GetAt(0).c_str());
  }
  return hr;
}

STDMETHODIMP CDiscovery::GetInstance(BSTR instanceID, LONG /*localOnly*/, SAFEARRAY** /*ParameterSetList*/,
                                     BSTR* Instance) {
  Trace()->LogMsg(3, kComponent, "Inside of CDiscovery::GetInstance (instance id %S)", instanceID ? instanceID : L"");
  if (!Instance) return E_POINTER;
  std::string id = auralink::platform::BstrToNarrow(instanceID);
  std::string text;

  if (id == quillon::kUnlinkedObjectsId) {
    text = quillon::kUnlinkedObjectsText;
  } else {
    std::vector<TabEntry> rows;
    std::vector<std::string> columns;
    if (m_db.MakeQuery(quillon::ObjectWithParentsQuery(id), rows, columns) != 0) {
      Trace()->LogMsg(0, kComponent, "Unable to get object");
      return E_FAIL;
    }
    if (rows.empty()) {  // no parent in tng_inclusion
      if (m_db.MakeQuery(quillon::ObjectWithoutParentsQuery(id), rows, columns) != 0) {
        Trace()->LogMsg(0, kComponent, "Unable to get object");
        return E_FAIL;
      }
      if (rows.empty()) {
        Trace()->LogMsg(0, kComponent, "The object with uuid %s doesn't have all info needed to remap the object in Orvex",
                        id.c_str());
        return E_FAIL;
      }
    }
    text = quillon::InstanceText(rows, columns);
  }

  if (text.empty()) {
    *Instance = SysAllocString(L"none");
    return E_FAIL;
  }
  *Instance = auralink::platform::AllocBstr(text);
  return *Instance ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CDiscovery::Terminate() {
  Trace()->LogMsg(3, kComponent, "Inside of CDiscovery::Terminate");
  m_db.CloseDb();
  Trace()->LogMsg(0, kComponent, "TNG database closed");
  return S_OK;
}
