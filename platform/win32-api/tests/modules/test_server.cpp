// A small in-process server built like the product's servers: one creatable, aggregatable
// class with a dual interface, and one class that is described in the registry but cannot
// be created.
#include <atlbase.h>
#include <atlcom.h>

#include <string>

#include "calculator_registration.h"
#include "test_server.h"

namespace {

// A class described in the registry without a ProgID or a server.
constexpr char kCalcNoteScript[] = R"(
HKCR
{
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'CalcNote Class'
		{
			'TypeLib' = s '%LIBID%'
		}
	}
}
)";

}  // namespace

class ATL_NO_VTABLE CCalculator : public CComObjectRootEx<CComSingleThreadModel>,
                                  public CComCoClass<CCalculator, &CLSID_TestCalculator>,
                                  public IDispatchImpl<ICalculator, &IID_ICalculator, &LIBID_AuralinkTestLib,
                                                       &kCalculatorDispatch> {
 public:
  DECLARE_REGISTRY_SCRIPT(kCalculatorRegistrationScript)

  BEGIN_COM_MAP(CCalculator)
  COM_INTERFACE_ENTRY(ICalculator)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  STDMETHOD(Add)(LONG a, LONG b, LONG* sum) override {
    if (!sum) return E_POINTER;
    *sum = a + b;
    return S_OK;
  }

  STDMETHOD(Echo)(BSTR text, BSTR* echoed) override {
    if (!echoed) return E_POINTER;
    *echoed = SysAllocStringLen(text, SysStringLen(text));
    return *echoed ? S_OK : E_OUTOFMEMORY;
  }

  STDMETHOD(MakeList)(LONG count, SAFEARRAY** items) override {
    if (!items) return E_POINTER;
    if (count < 0) return E_INVALIDARG;
    CComSafeArrayOwner list(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count)));
    if (!list) return E_OUTOFMEMORY;
    for (LONG i = 0; i < count; ++i) {
      CComVariant item(("item " + std::to_string(i)).c_str());
      HRESULT hr = SafeArrayPutElement(list, &i, &item);
      if (FAILED(hr)) return hr;
    }
    if (*items) SafeArrayDestroy(*items);
    *items = list.Detach();
    return S_OK;
  }
};

// Described in the registry (without a server) but not creatable through a factory.
class ATL_NO_VTABLE CCalcNote : public CComObjectRootEx<CComSingleThreadModel>,
                                public CComCoClass<CCalcNote, &CLSID_TestCalcNote>,
                                public IUnknown {
 public:
  DECLARE_REGISTRY_SCRIPT(kCalcNoteScript)

  BEGIN_COM_MAP(CCalcNote)
  COM_INTERFACE_ENTRY(IUnknown)
  END_COM_MAP()
};

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_TestCalculator, CCalculator)
OBJECT_ENTRY_NON_CREATEABLE(CCalcNote)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_AuralinkTestLib, TEST_TYPELIB_DESCRIPTION)
DECLARE_DLL_ENTRY_POINTS()
