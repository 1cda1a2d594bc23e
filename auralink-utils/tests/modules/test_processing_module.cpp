// A processing class for the processing manager's tests. Its object streams report what
// the manager did: the agent it was initialised with, how often, and how many objects
// of the class exist. TestProcessingCounts tells how many exist and how often Terminate
// was called; Terminate fails for an agent whose name holds "FailTerminate".
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/interfaces.h>
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>

#include <atomic>
#include <string>

#include "test_processing_ids.h"
#include "type_library_interfaces.h"
#include <auralink/platform/text.h>

namespace {

std::atomic<int> g_liveObjects{0};
std::atomic<int> g_terminations{0};

constexpr const char* kScript = R"(HKCR
{
  NoRemove CLSID
  {
    ForceRemove %CLSID% = s 'Test Processing Class'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
})";

class ATL_NO_VTABLE CTestProcessing
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CTestProcessing, &CLSID_TestProcessing>,
      public IDispatchImpl<IProcessing, &IID_IProcessing, &LIBID_TestProcessingLib, &kProcessingDispatch> {
 public:
  CTestProcessing() { ++g_liveObjects; }
  ~CTestProcessing() { --g_liveObjects; }

  DECLARE_REGISTRY_SCRIPT(kScript)
  BEGIN_COM_MAP(CTestProcessing)
    COM_INTERFACE_ENTRY(IProcessing)
    COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  STDMETHOD(Initialize)(BSTR agentName) override {
    agent_ = auralink::platform::BstrToNarrow(agentName);
    ++initializations_;
    return S_OK;
  }

  STDMETHOD(ProcessingObject)(LONG inOperation, BSTR objectID, BSTR listenedObject, LONG* lInstOpCount,
                              SAFEARRAY** ppInstOpArray, LONG* lObjectCount, SAFEARRAY** ppObjArray) override {
    std::string id = auralink::platform::BstrToNarrow(objectID);
    if (id == "decline") return S_FALSE;
    if (id == "fail") {  // fails after making one array, which then belongs to the caller
      *lObjectCount = 1;
      *ppObjArray = auralink::CreatePayloadArray(1);
      auralink::PutStringElement(*ppObjArray, 0, "half done");
      return E_FAIL;
    }
    std::string report = agent_ + "|" + id + "|" + auralink::platform::BstrToNarrow(listenedObject) +
                         "|initialized " + std::to_string(initializations_) + "|objects " +
                         std::to_string(g_liveObjects.load());
    auralink::PayloadArray objects(auralink::CreatePayloadArray(2));
    auralink::PayloadArray operations(auralink::CreatePayloadArray(2));
    if (!objects || !operations) return E_OUTOFMEMORY;
    auralink::PutStringElement(objects.Get(), 0, report.c_str());
    auralink::PutStringElement(objects.Get(), 1, "<event/>");
    auralink::PutOperationElement(operations.Get(), 0, inOperation);
    auralink::PutOperationElement(operations.Get(), 1, auralink::EVENTNOTIFICATION);
    *lObjectCount = 2;
    *ppObjArray = objects.Detach();
    *lInstOpCount = 2;
    *ppInstOpArray = operations.Detach();
    return S_OK;
  }

  STDMETHOD(Terminate)() override {
    ++g_terminations;
    return agent_.find("FailTerminate") == std::string::npos ? S_OK : E_FAIL;
  }

 private:
  std::string agent_;
  int initializations_ = 0;
};

class ATL_NO_VTABLE CTestUninitializableProcessing
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CTestUninitializableProcessing, &CLSID_TestUninitializableProcessing>,
      public IDispatchImpl<IProcessing, &IID_IProcessing, &LIBID_TestProcessingLib, &kProcessingDispatch> {
 public:
  DECLARE_REGISTRY_SCRIPT(kScript)
  BEGIN_COM_MAP(CTestUninitializableProcessing)
    COM_INTERFACE_ENTRY(IProcessing)
    COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  STDMETHOD(Initialize)(BSTR) override { return E_FAIL; }
  STDMETHOD(ProcessingObject)(LONG, BSTR, BSTR, LONG*, SAFEARRAY**, LONG*, SAFEARRAY**) override { return E_FAIL; }
  STDMETHOD(Terminate)() override { return S_OK; }
};

}  // namespace

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_TestProcessing, CTestProcessing)
OBJECT_ENTRY(CLSID_TestUninitializableProcessing, CTestUninitializableProcessing)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_TestProcessingLib, "TestProcessing 1.0 Type Library", kTypeLibraryInterfaces)
DECLARE_DLL_ENTRY_POINTS()

extern "C" __attribute__((visibility("default"))) void TestProcessingCounts(int* liveObjects, int* terminations) {
  *liveObjects = g_liveObjects;
  *terminations = g_terminations;
}
