// IDispatch served from a dispatch table: names to identifiers (index + 1) and calls by
// identifier.
#include <windows.h>
#include <dispatch_table.h>

#include <cwctype>

namespace {

bool SameNameIgnoringCase(const wchar_t* a, const wchar_t* b) {
  for (; *a && *b; ++a, ++b)
    if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) return false;
  return *a == *b;
}

}  // namespace

namespace auralink::platform {

HRESULT DispatchGetIDsOfNames(const DispatchTable& table, REFIID riid, LPOLESTR* names, UINT count,
                              DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!names || !ids) return E_POINTER;
  if (count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (names[0]) {
    for (size_t index = 0; index < table.count; ++index) {
      if (SameNameIgnoringCase(names[0], table.members[index].name)) {
        ids[0] = static_cast<DISPID>(index + 1);
        break;
      }
    }
  }
  // Parameter names are not known: the methods take their arguments by position only.
  return (ids[0] == DISPID_UNKNOWN || count > 1) ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT DispatchInvoke(const DispatchTable& table, IDispatch* self, DISPID id, REFIID riid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, UINT* argErr) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (id < 1 || static_cast<size_t>(id) > table.count) return DISP_E_MEMBERNOTFOUND;
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_INVALIDARG;
  return table.members[id - 1].invoke(self, params, result, argErr);
}

}  // namespace auralink::platform
