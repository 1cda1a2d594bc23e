// The parts of the ATL-style framework that do not depend on a particular module: the
// module object's functions (which work on the module object they are called on), the
// class factory and QueryInterface over an interface map.
#include <windows.h>

#include <atlcom.h>
#include <statreg.h>

#include <auralink/platform/guid_text.h>
#include <auralink/platform/module_path.h>

#include "registrar_support.h"

using auralink::platform::GuidToString;

namespace ATL {

HRESULT WINAPI AtlInternalQueryInterface(void* pThis, const _ATL_INTMAP_ENTRY* pEntries, REFIID iid,
                                         void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  if (!pThis || !pEntries || !pEntries->piid) return E_NOINTERFACE;
  const _ATL_INTMAP_ENTRY* match = nullptr;
  if (InlineIsEqualUnknown(iid)) {
    match = pEntries;  // the object's identity: its first interface
  } else {
    for (const _ATL_INTMAP_ENTRY* entry = pEntries; entry->piid; ++entry) {
      if (IsEqualIID(*entry->piid, iid)) {
        match = entry;
        break;
      }
    }
  }
  if (!match) return E_NOINTERFACE;
  IUnknown* found = static_cast<IUnknown*>(match->pfnCast(pThis));
  found->AddRef();
  *ppvObject = found;
  return S_OK;
}

// ---- Class factory ----------------------------------------------------------------------

CComClassFactory::~CComClassFactory() {
  if (m_pModule) m_pModule->Unlock();
}

void CComClassFactory::SetCreator(_ATL_CREATORFUNC* pfnCreateInstance, CComModule* pModule) {
  m_pfnCreateInstance = pfnCreateInstance;
  if (pModule) pModule->Lock();
  if (m_pModule) m_pModule->Unlock();
  m_pModule = pModule;
}

HRESULT CComClassFactory::CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppvObj) {
  if (!ppvObj) return E_POINTER;
  *ppvObj = nullptr;
  if (pUnkOuter && !InlineIsEqualUnknown(riid)) return CLASS_E_NOAGGREGATION;
  if (!m_pfnCreateInstance) return E_UNEXPECTED;
  return m_pfnCreateInstance(pUnkOuter, riid, ppvObj);
}

HRESULT CComClassFactory::LockServer(BOOL fLock) {
  if (!m_pModule) return E_UNEXPECTED;
  if (fLock)
    m_pModule->Lock();
  else
    m_pModule->Unlock();
  return S_OK;
}

// ---- Module -------------------------------------------------------------------------------

HRESULT CComModule::Init(_ATL_OBJMAP_ENTRY* p, HINSTANCE h, const GUID* plibid, LPCSTR typeLibDescription,
                         WORD wMajor, WORD wMinor,
                         const auralink::platform::TypeLibraryInterface* typeLibInterfaces) {
  m_pObjMap = p;
  m_hInst = h;
  m_plibid = plibid;
  m_typeLibDescription = typeLibDescription;
  m_wMajor = wMajor;
  m_wMinor = wMinor;
  m_typeLibInterfaces = typeLibInterfaces;
  return S_OK;
}

void CComModule::Term() { m_pObjMap = nullptr; }

std::string CComModule::GetModuleFileName() const { return auralink::platform::ModulePathOfAddress(this); }

HRESULT CComModule::GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (_ATL_OBJMAP_ENTRY* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    if (!entry->pfnCreateInstance || !IsEqualCLSID(*entry->pclsid, rclsid)) continue;
    CComObjectNoLock<CComClassFactory>* factory = new (std::nothrow) CComObjectNoLock<CComClassFactory>();
    if (!factory) return E_OUTOFMEMORY;
    factory->SetCreator(entry->pfnCreateInstance, this);
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CComModule::RegisterServer(BOOL bRegTypeLib, const CLSID* pCLSID) {
  for (_ATL_OBJMAP_ENTRY* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    if (pCLSID && !IsEqualCLSID(*pCLSID, *entry->pclsid)) continue;
    HRESULT hr = entry->pfnUpdateRegistry(TRUE);
    if (FAILED(hr)) return hr;
  }
  return bRegTypeLib ? RegisterTypeLib() : S_OK;
}

HRESULT CComModule::UnregisterServer(BOOL bUnRegTypeLib, const CLSID* pCLSID) {
  // Removes as much as it can; the first failure is the answer and its text is kept.
  HRESULT first = S_OK;
  std::string firstText;
  auto note = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(first)) {
      first = hr;
      firstText = auralink::platform::LastRegistrarErrorText();
    }
  };
  for (_ATL_OBJMAP_ENTRY* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    if (pCLSID && !IsEqualCLSID(*pCLSID, *entry->pclsid)) continue;
    note(entry->pfnUpdateRegistry(FALSE));
  }
  if (bUnRegTypeLib) note(UnRegisterTypeLib());
  auralink::platform::com::SetRegistrarErrorText(firstText);
  return first;
}

HRESULT CComModule::RegisterTypeLib() {
  if (!m_plibid) return S_OK;  // a module without a type library
  std::string path = GetModuleFileName();
  return auralink::platform::RegisterTypeLibrary(*m_plibid, m_wMajor, m_wMinor, m_typeLibDescription,
                                                 path.c_str(), m_typeLibInterfaces);
}

HRESULT CComModule::UnRegisterTypeLib() {
  if (!m_plibid) return S_OK;
  return auralink::platform::UnregisterTypeLibrary(*m_plibid, m_wMajor, m_wMinor, m_typeLibInterfaces);
}

HRESULT CComModule::UpdateRegistryFromScript(LPCSTR script, BOOL bRegister, REFCLSID clsid,
                                             const _ATL_REGMAP_ENTRY* pMapEntries) {
  const std::string path = GetModuleFileName();
  if (path.empty()) {
    auralink::platform::com::SetRegistrarErrorText("the file of the module cannot be found");
    return E_FAIL;
  }
  CRegObject registrar;
  registrar.AddReplacement("MODULE", path.c_str());
  if (!IsEqualCLSID(clsid, GUID_NULL)) registrar.AddReplacement("CLSID", GuidToString(clsid).c_str());
  if (m_plibid) registrar.AddReplacement("LIBID", GuidToString(*m_plibid).c_str());
  for (const _ATL_REGMAP_ENTRY* entry = pMapEntries; entry && entry->szKey; ++entry)
    registrar.AddReplacement(entry->szKey, entry->szData);
  return bRegister ? registrar.StringRegister(script) : registrar.StringUnregister(script);
}

}  // namespace ATL
