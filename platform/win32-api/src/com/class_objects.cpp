// Class objects of in-process servers: HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32
// names the module, which is loaded once per process and asked for the class factory
// through its DllGetClassObject. Modules answering S_OK to DllCanUnloadNow are unloaded
// by CoFreeUnusedLibraries.
#include <objbase.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "com_internal.h"
#include <auralink/platform/guid_text.h>
#include <auralink/platform/error_text.h>

using auralink::platform::GuidToString;
using auralink::platform::com::SetComFailureText;

namespace {

struct LoadedModule {
  HMODULE handle = nullptr;
  LPFNGETCLASSOBJECT getClassObject = nullptr;
  LPFNCANUNLOADNOW canUnloadNow = nullptr;
  int callsInProgress = 0;  // a module is never unloaded under a running DllGetClassObject
};

class ModuleCache {
 public:
  // The module of `path`, loaded on first use; null with the reason in `failure`.
  LoadedModule* Acquire(const std::string& path, HRESULT& failure, std::string& reason) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = modules_.find(path);
    if (found == modules_.end()) {
      HMODULE handle = LoadLibraryA(path.c_str());
      if (!handle) {
        failure = CO_E_DLLNOTFOUND;
        reason = "cannot load the module " + path + ": " + auralink::platform::LastLoaderErrorText();
        return nullptr;
      }
      auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(handle, "DllGetClassObject"));
      if (!getClassObject) {
        FreeLibrary(handle);
        failure = CO_E_ERRORINDLL;
        reason = "the module " + path + " has no DllGetClassObject entry point";
        return nullptr;
      }
      LoadedModule module;
      module.handle = handle;
      module.getClassObject = getClassObject;
      module.canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(handle, "DllCanUnloadNow"));
      found = modules_.emplace(path, module).first;
    }
    ++found->second.callsInProgress;
    return &found->second;
  }

  void Return(LoadedModule* module) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    --module->callsInProgress;
  }

  void FreeUnused() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (auto it = modules_.begin(); it != modules_.end();) {
      LoadedModule& module = it->second;
      if (module.callsInProgress == 0 && module.canUnloadNow && module.canUnloadNow() == S_OK) {
        FreeLibrary(module.handle);
        it = modules_.erase(it);
      } else {
        ++it;
      }
    }
  }

 private:
  // Recursive: a module being loaded may itself create objects from its start-up code.
  std::recursive_mutex mutex_;
  std::map<std::string, LoadedModule> modules_;  // node-based: entries stay put
};

ModuleCache& Modules() {
  static ModuleCache* cache = new ModuleCache();  // outlives the destructors of loaded modules
  return *cache;
}

// The module path registered for the class, or a failure with its reason.
HRESULT FindInprocServer(REFCLSID rclsid, std::string& path) {
  const std::string clsid = GuidToString(rclsid);
  const std::string classKey = "CLSID\\" + clsid;
  const std::string serverKey = classKey + "\\InprocServer32";
  LONG error = ERROR_SUCCESS;
  if (auralink::platform::com::ReadDefaultString(HKEY_CLASSES_ROOT, serverKey, path, &error) && !path.empty())
    return S_OK;
  if (error == ERROR_REGISTRY_CORRUPT) {
    SetComFailureText("the registry cannot be read: " + std::string(auralink::platform::LastRegistryErrorText()));
    return REGDB_E_READREGDB;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    SetComFailureText("the class " + clsid + " is not registered: HKEY_CLASSES_ROOT\\" + classKey + " is missing");
    return REGDB_E_CLASSNOTREG;
  }
  RegCloseKey(key);
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, serverKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    SetComFailureText("the class " + clsid + " has no in-process server: HKEY_CLASSES_ROOT\\" + serverKey +
                      " is missing");
    return REGDB_E_CLASSNOTREG;
  }
  RegCloseKey(key);
  SetComFailureText("the class " + clsid + " names no module: HKEY_CLASSES_ROOT\\" + serverKey +
                    " has no default value");
  return REGDB_E_CLASSNOTREG;
}

std::string HexCode(HRESULT hr) {
  char text[16];
  snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID* ppv) {
  SetComFailureText({});
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!auralink::platform::com::IsComUsableOnThisThread()) {
    SetComFailureText("COM is not initialised on this thread (CoInitialize or CoInitializeEx first)");
    return CO_E_NOTINITIALIZED;
  }
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) {
    SetComFailureText("only in-process servers are supported; the class " + GuidToString(rclsid) +
                      " was asked for in another context");
    return REGDB_E_CLASSNOTREG;
  }
  std::string path;
  HRESULT hr = FindInprocServer(rclsid, path);
  if (FAILED(hr)) return hr;

  std::string reason;
  LoadedModule* module = Modules().Acquire(path, hr, reason);
  if (!module) {
    SetComFailureText("class " + GuidToString(rclsid) + ": " + reason);
    return hr;
  }
  hr = module->getClassObject(rclsid, riid, ppv);
  Modules().Return(module);
  if (FAILED(hr)) {
    *ppv = nullptr;
    SetComFailureText("DllGetClassObject of " + path + " answered " + HexCode(hr) + " for the class " +
                      GuidToString(rclsid));
  }
  return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (!ppv) {
    SetComFailureText("CoCreateInstance was given no place for the interface pointer");
    return E_INVALIDARG;
  }
  *ppv = nullptr;
  // The runtime's own table is no registered class.
  if (IsEqualCLSID(rclsid, CLSID_StdGlobalInterfaceTable)) {
    if (!auralink::platform::com::IsComUsableOnThisThread()) return CO_E_NOTINITIALIZED;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    return auralink::platform::com::TheGlobalInterfaceTable()->QueryInterface(riid, ppv);
  }
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  if (FAILED(hr)) {
    *ppv = nullptr;
    SetComFailureText("the class factory of " + GuidToString(rclsid) + " answered " + HexCode(hr));
  }
  return hr;
}

void CoFreeUnusedLibraries() { Modules().FreeUnused(); }
