// A processing class whose answer the caller writes into the object itself, so that the
// adapter's tests choose exactly which operations come back:
//   - the object "code<TAB>stream" lines (separated by line feeds) gives one operation per
//     line, in order; an empty object gives none;
//   - the object "echo" gives one operation of the code it was called with, whose stream
//     is <received operation="code"/>;
//   - any other object without such lines (an instance's attribute text) gives one instance
//     creation, <instance id="identifier"/>; the empty object and "-" give none;
//   - the identifier "fail" fails the call.
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/interfaces.h>
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "scripted_processing_ids.h"
#include "type_library_interfaces.h"
#include <auralink/platform/text.h>

namespace {

constexpr const char* kScript = R"(HKCR
{
  NoRemove CLSID
  {
    ForceRemove %CLSID% = s 'Scripted Processing Class'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
})";

std::vector<std::pair<LONG, std::string>> Script(LONG operation, const std::string& id, const std::string& object) {
  std::vector<std::pair<LONG, std::string>> script;
  if (object == "echo") {
    script.emplace_back(operation, "<received operation=\"" + std::to_string(operation) + "\"/>");
    return script;
  }
  std::istringstream lines(object);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    script.emplace_back(std::stol(line.substr(0, tab)), line.substr(tab + 1));
  }
  if (script.empty() && !object.empty() && object != "-")
    script.emplace_back(auralink::INSTANCECREATION, "<instance id=\"" + id + "\"/>");
  return script;
}

class ATL_NO_VTABLE CScriptedProcessing
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CScriptedProcessing, &CLSID_ScriptedProcessing>,
      public IDispatchImpl<IProcessing, &IID_IProcessing, &LIBID_ScriptedProcessingLib, &kProcessingDispatch> {
 public:
  DECLARE_REGISTRY_SCRIPT(kScript)
  BEGIN_COM_MAP(CScriptedProcessing)
    COM_INTERFACE_ENTRY(IProcessing)
    COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  STDMETHOD(Initialize)(BSTR) override { return S_OK; }

  STDMETHOD(ProcessingObject)(LONG inOperation, BSTR objectID, BSTR listenedObject, LONG* lInstOpCount,
                              SAFEARRAY** ppInstOpArray, LONG* lObjectCount, SAFEARRAY** ppObjArray) override {
    const std::string id = auralink::platform::BstrToNarrow(objectID);
    if (id == "fail") return E_FAIL;
    const auto script = Script(inOperation, id, auralink::platform::BstrToNarrow(listenedObject));
    const auto count = static_cast<LONG>(script.size());
    auralink::PayloadArray operations(auralink::CreatePayloadArray(count));
    auralink::PayloadArray objects(auralink::CreatePayloadArray(count));
    if (!operations || !objects) return E_OUTOFMEMORY;
    for (LONG i = 0; i < count; ++i) {
      auralink::PutOperationElement(operations.Get(), i, script[i].first);
      auralink::PutStringElement(objects.Get(), i, script[i].second.c_str());
    }
    *lInstOpCount = count;
    *ppInstOpArray = operations.Detach();
    *lObjectCount = count;
    *ppObjArray = objects.Detach();
    return S_OK;
  }

  STDMETHOD(Terminate)() override { return S_OK; }
};

}  // namespace

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_ScriptedProcessing, CScriptedProcessing)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_ScriptedProcessingLib, "ScriptedProcessing 1.0 Type Library", kTypeLibraryInterfaces)
DECLARE_DLL_ENTRY_POINTS()
