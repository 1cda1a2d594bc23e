// GUID text forms and ProgIDs: CLSIDFromString, IIDFromString, CLSIDFromProgID,
// StringFromGUID2 and StringFromCLSID, with the task allocator they hand strings out in.
#include <objbase.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "com_internal.h"
#include <auralink/platform/text.h>
#include <auralink/platform/guid_text.h>

using auralink::platform::GuidFromString;
using auralink::platform::GuidToString;

namespace {

constexpr size_t kBracedGuidLength = 38;

// Only the braced form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" counts as a GUID here.
bool ParseBracedGuid(LPCOLESTR text, GUID& guid) {
  size_t length = wcslen(text);
  if (length != kBracedGuidLength || text[0] != L'{' || text[length - 1] != L'}') return false;
  std::string narrow;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] > 0x7F) return false;
    narrow.push_back(static_cast<char>(text[i]));
  }
  return GuidFromString(narrow, guid);
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (!lpszProgID || !lpclsid) return E_INVALIDARG;
  *lpclsid = CLSID_NULL;
  std::string progId = auralink::platform::ToNarrow(lpszProgID);
  std::string text;
  GUID clsid{};
  if (progId.empty() ||
      !auralink::platform::com::ReadDefaultString(HKEY_CLASSES_ROOT, progId + "\\CLSID", text) ||
      !GuidFromString(text, clsid))
    return CO_E_CLASSSTRING;
  *lpclsid = clsid;
  return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid) return E_INVALIDARG;
  if (!lpsz || !*lpsz) {
    *pclsid = CLSID_NULL;
    return S_OK;
  }
  GUID clsid{};
  if (lpsz[0] == L'{') {
    if (!ParseBracedGuid(lpsz, clsid)) return CO_E_CLASSSTRING;
    *pclsid = clsid;
    return S_OK;
  }
  return CLSIDFromProgID(lpsz, pclsid);
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
  if (!lpiid) return E_INVALIDARG;
  if (!lpsz) {
    *lpiid = IID_NULL;
    return S_OK;
  }
  GUID iid{};
  if (!ParseBracedGuid(lpsz, iid)) return CO_E_CLASSSTRING;
  *lpiid = iid;
  return S_OK;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < static_cast<int>(kBracedGuidLength + 1)) return 0;
  std::string text = GuidToString(rguid);
  for (size_t i = 0; i < text.size(); ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  lpsz[text.size()] = L'\0';
  return static_cast<int>(text.size() + 1);
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  if (!lplpsz) return E_INVALIDARG;
  *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc((kBracedGuidLength + 1) * sizeof(OLECHAR)));
  if (!*lplpsz) return E_OUTOFMEMORY;
  StringFromGUID2(rclsid, *lplpsz, kBracedGuidLength + 1);
  return S_OK;
}

// A zero-byte request still gets a block of its own, as on Windows.
LPVOID CoTaskMemAlloc(SIZE_T cb) { return malloc(cb ? cb : 1); }

void CoTaskMemFree(LPVOID pv) { free(pv); }
