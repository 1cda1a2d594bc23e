#include <auralink/payload_arrays.h>
#include <auralink/platform/text.h>

namespace auralink {
namespace {

// A VARIANT that clears itself, so every exit path releases what SafeArrayGetElement copied.
struct ScopedVariant {
  VARIANT value;
  ScopedVariant() { VariantInit(&value); }
  ~ScopedVariant() { VariantClear(&value); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};

// Payload arrays hold VARIANTs; reading another element type into a VARIANT would
// misread memory, so such arrays are refused.
bool HoldsVariants(SAFEARRAY* array) {
  VARTYPE type = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(array, &type))) return type == VT_VARIANT;
  return (array->fFeatures & FADF_VARIANT) != 0;
}

// The SAFEARRAY index of payload element `index` (counted from 0 whatever the lower bound).
HRESULT ElementPosition(SAFEARRAY* array, LONG index, LONG& position) {
  if (!array) return E_INVALIDARG;
  if (!HoldsVariants(array)) return DISP_E_TYPEMISMATCH;
  if (index < 0 || index >= PayloadElementCount(array)) return DISP_E_BADINDEX;
  LONG lowerBound = 0;
  HRESULT hr = SafeArrayGetLBound(array, 1, &lowerBound);
  if (SUCCEEDED(hr)) position = lowerBound + index;
  return hr;
}

HRESULT GetElement(SAFEARRAY* array, LONG index, VARTYPE wanted, ScopedVariant& element) {
  LONG position = 0;
  HRESULT hr = ElementPosition(array, index, position);
  if (FAILED(hr)) return hr;
  hr = SafeArrayGetElement(array, &position, &element.value);
  if (FAILED(hr)) return hr;
  return V_VT(&element.value) == wanted ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT PutElement(SAFEARRAY* array, LONG index, VARIANT& element) {
  LONG position = 0;
  HRESULT hr = ElementPosition(array, index, position);
  if (FAILED(hr)) return hr;
  return SafeArrayPutElement(array, &position, &element);  // copies the variant
}

}  // namespace

SAFEARRAY* CreatePayloadArray(LONG count) {
  if (count < 0) return nullptr;
  return SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
}

LONG PayloadElementCount(SAFEARRAY* array) {
  if (!array || SafeArrayGetDim(array) != 1) return 0;
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return 0;
  return upper >= lower ? upper - lower + 1 : 0;
}

HRESULT PutOperationElement(SAFEARRAY* array, LONG index, LONG operation) {
  VARIANT element;
  VariantInit(&element);
  V_VT(&element) = VT_I4;
  V_I4(&element) = operation;
  return PutElement(array, index, element);
}

HRESULT PutBstrElement(SAFEARRAY* array, LONG index, const OLECHAR* text) {
  ScopedVariant element;
  V_VT(&element.value) = VT_BSTR;
  V_BSTR(&element.value) = SysAllocString(text ? text : L"");
  if (!V_BSTR(&element.value)) return E_OUTOFMEMORY;
  return PutElement(array, index, element.value);
}

HRESULT PutStringElement(SAFEARRAY* array, LONG index, const char* text) {
  ScopedVariant element;
  V_VT(&element.value) = VT_BSTR;
  V_BSTR(&element.value) = platform::AllocBstr(text ? text : "");
  if (!V_BSTR(&element.value)) return E_OUTOFMEMORY;
  return PutElement(array, index, element.value);
}

HRESULT GetOperationElement(SAFEARRAY* array, LONG index, LONG* operation) {
  if (!operation) return E_INVALIDARG;
  ScopedVariant element;
  HRESULT hr = GetElement(array, index, VT_I4, element);
  if (SUCCEEDED(hr)) *operation = V_I4(&element.value);
  return hr;
}

HRESULT GetStringElement(SAFEARRAY* array, LONG index, std::string* text) {
  if (!text) return E_INVALIDARG;
  ScopedVariant element;
  HRESULT hr = GetElement(array, index, VT_BSTR, element);
  if (SUCCEEDED(hr)) *text = platform::BstrToNarrow(V_BSTR(&element.value));
  return hr;
}

HRESULT GetBstrElement(SAFEARRAY* array, LONG index, BSTR* text) {
  if (!text) return E_INVALIDARG;
  ScopedVariant element;
  HRESULT hr = GetElement(array, index, VT_BSTR, element);
  if (FAILED(hr)) return hr;
  // Hand over the copy that SafeArrayGetElement made; a null BSTR becomes an empty one.
  BSTR copy = V_BSTR(&element.value) ? V_BSTR(&element.value) : SysAllocString(L"");
  if (!copy) return E_OUTOFMEMORY;
  V_VT(&element.value) = VT_EMPTY;
  *text = copy;
  return S_OK;
}

}  // namespace auralink
