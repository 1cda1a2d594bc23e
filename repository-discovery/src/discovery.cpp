// The methods use only the trace singleton, the remapper, the connection and the string
// conversions, none of which depend on a per-module framework state; so a call needs no
// state switch to run inside the module.
#include "discovery.h"

#include <auralink/payload_arrays.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>

#include <map>
#include <new>
#include <vector>

#include "unlinked_objects.h"
#include <auralink/platform/text.h>

namespace {

constexpr const char* kComponent = "TNG:IDiscovery";

CTraceUtils* Trace() { return CTraceUtils::GetInstance(); }

// Turns each identifier row into the string that the identifier array will hold, as the
// row is read: a repository of a million objects is never held as rows beside its array.
class IdentifierCollector : public DBManager::RowReceiver {
 public:
  IdentifierCollector() = default;
  IdentifierCollector(const IdentifierCollector&) = delete;
  IdentifierCollector& operator=(const IdentifierCollector&) = delete;
  ~IdentifierCollector() override { Restart(); }

  void Restart() override {
    for (BSTR id : ids_) SysFreeString(id);
    ids_.clear();
  }

  bool Row(const TabEntry& row) override {
    BSTR id = auralink::platform::AllocBstr(row.GetAt(0));
    if (!id) return false;
    try {
      ids_.push_back(id);
    } catch (const std::bad_alloc&) {
      SysFreeString(id);
      return false;
    }
    return true;
  }

  LONG Count() const { return static_cast<LONG>(ids_.size()); }

  // Hands the strings to the elements of `array` from `first` on; the array owns them.
  HRESULT MoveInto(SAFEARRAY* array, LONG first) {
    VARIANT* elements = nullptr;
    HRESULT hr = SafeArrayAccessData(array, reinterpret_cast<void**>(&elements));
    if (FAILED(hr)) return hr;
    for (size_t i = 0; i < ids_.size(); ++i) {
      VARIANT& element = elements[static_cast<size_t>(first) + i];
      V_VT(&element) = VT_BSTR;
      V_BSTR(&element) = ids_[i];
    }
    std::vector<BSTR>().swap(ids_);
    return SafeArrayUnaccessData(array);
  }

 private:
  std::vector<BSTR> ids_;
};

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

  IdentifierCollector ids;
  std::vector<std::string> columns;
  if (m_db.MakeQuery(query, ids, columns) != 0) {
    Trace()->LogMsg(0, kComponent, "Unable to get object uuids");
    return E_FAIL;
  }

  const LONG first = allClasses ? 1 : 0;  // the unlinked-objects aggregate leads the full list
  const LONG count = ids.Count() + first;
  Trace()->LogMsg(1, kComponent, "Object uuids have been successfully gotten (num = %d)", static_cast<int>(count));
  *lObjectCount = count;
  *InstanceIds = auralink::CreatePayloadArray(count);  // the caller's array is the caller's
  if (!*InstanceIds) {
    Trace()->LogMsg(0, kComponent, "Unable to create the array that will contain the instance ids.");
    return E_OUTOFMEMORY;
  }
  HRESULT hr = S_OK;
  if (allClasses) hr = auralink::PutStringElement(*InstanceIds, 0, quillon::kUnlinkedObjectsId);
  if (SUCCEEDED(hr)) hr = ids.MoveInto(*InstanceIds, first);
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
