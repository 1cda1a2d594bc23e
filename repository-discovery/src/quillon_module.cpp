// The Quillon module: its classes, its type library and the four entry points. Registering
// the module also configures its agent "QuillonLst" and records the agent with the
// utility library; unregistering undoes both.
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/agent_registration.h>
#include <auralink/config_keys.h>

#include "agent_defaults.h"
#include "discovery.h"
#include "processing.h"
#include "type_library_interfaces.h"

CComModule _Module;

// The type library also declares a Listening coclass; the agent listens through Dunmere's,
// so no factory or registration exists for it here.
BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_QuillonDiscovery, CDiscovery)
OBJECT_ENTRY(CLSID_QuillonProcessing, CProcessing)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_QUILLONLib, "Quillon 1.0 Type Library", kTypeLibraryInterfaces)

STDAPI DllCanUnloadNow() { return _Module.DllCanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return _Module.DllGetClassObject(rclsid, riid, ppv);
}

// A configuration that cannot be written fails the registration before the agent and the
// classes are announced; S_FALSE when the utility library refuses the agent.
STDAPI DllRegisterServer() {
  HRESULT hr = quillon::WriteAgentDefaults(quillon::ModuleFolder(_Module.GetModuleFileName()));
  if (FAILED(hr)) return hr;
  if (!RegisterAgent(auralink::config::kInstanceAgent, quillon::kAgentDescription, "", quillon::kAgentType))
    return S_FALSE;
  return _Module.DllRegisterServer();
}

STDAPI DllUnregisterServer() {
  HRESULT hr = quillon::RemoveAgentConfiguration();
  if (FAILED(hr)) return hr;
  if (!UnregisterAgent(auralink::config::kInstanceAgent, quillon::kAgentDescription)) return S_FALSE;
  return _Module.DllUnregisterServer();
}
