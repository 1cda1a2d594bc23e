// Registration of a module's type library on Windows: the type library made from the IDL
// is a resource of the module (TYPELIB 1), which the system's type-library functions read
// and register together with the interfaces it describes (so that COM can marshal them).
#include <windows.h>
#include <oleauto.h>

#include <statreg.h>

#include <cstdio>
#include <string>

#include <auralink/platform/guid_text.h>
#include <auralink/platform/module_path.h>
#include <auralink/platform/text.h>

#include "registrar_support.h"

namespace auralink::platform {
namespace {

HRESULT Failure(HRESULT hr, const std::string& what) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  com::SetRegistrarErrorText(what + ": " + code);
  return hr;
}

}  // namespace

HRESULT RegisterTypeLibrary(REFGUID libid, WORD major, WORD minor, const char* /*description*/,
                            const char* modulePath, const TypeLibraryInterface* /*interfaces*/) {
  if (!modulePath || !*modulePath) {
    com::SetRegistrarErrorText("the type library " + GuidToString(libid) + " has no module path");
    return E_INVALIDARG;
  }
  std::wstring path = ToWide(modulePath);
  std::wstring folder = ToWide(FolderOfPath(modulePath));
  ITypeLib* typeLibrary = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLibrary);
  if (FAILED(hr)) return Failure(hr, std::string("cannot load the type library of ") + modulePath);
  TLIBATTR* attributes = nullptr;
  hr = typeLibrary->GetLibAttr(&attributes);
  if (SUCCEEDED(hr)) {
    const bool expected = IsEqualGUID(attributes->guid, libid) && attributes->wMajorVerNum == major &&
                          attributes->wMinorVerNum == minor;
    typeLibrary->ReleaseTLibAttr(attributes);
    if (!expected) hr = TYPE_E_LIBNOTREGISTERED;
  }
  if (FAILED(hr)) {
    typeLibrary->Release();
    return Failure(hr, std::string("the type library of ") + modulePath + " is not " + GuidToString(libid));
  }
  hr = RegisterTypeLib(typeLibrary, path.data(), folder.data());
  typeLibrary->Release();
  if (FAILED(hr)) return Failure(hr, "cannot register the type library " + GuidToString(libid));
  com::SetRegistrarErrorText({});
  return S_OK;
}

HRESULT UnregisterTypeLibrary(REFGUID libid, WORD major, WORD minor, const TypeLibraryInterface* /*interfaces*/) {
  // A library that is not registered is already where unregistration leads. Asked first,
  // because UnRegisterTypeLib's answer for one differs between systems (Windows reports
  // TYPE_E_REGISTRYACCESS, Wine E_INVALIDARG), and E_INVALIDARG could mean anything.
  BSTR registered = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(libid, major, minor, LOCALE_NEUTRAL, &registered);
  SysFreeString(registered);
  if (hr == TYPE_E_LIBNOTREGISTERED) {
    com::SetRegistrarErrorText({});
    return S_OK;
  }
  hr = UnRegisterTypeLib(libid, major, minor, LOCALE_NEUTRAL, SYS_WIN64);
  if (hr == TYPE_E_LIBNOTREGISTERED || hr == TYPE_E_REGISTRYACCESS) hr = S_OK;
  if (FAILED(hr)) return Failure(hr, "cannot unregister the type library " + GuidToString(libid));
  com::SetRegistrarErrorText({});
  return S_OK;
}

}  // namespace auralink::platform
