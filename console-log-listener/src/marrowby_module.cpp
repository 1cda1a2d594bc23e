// The Marrowby module: its two classes, its type library and the four entry points.
// Registration writes the console-log agent's default configuration and records the agent
// before it registers the classes; unregistration removes them in the same order.
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/agent_registration.h>
#include <auralink/config_keys.h>
#include <auralink/platform/module_path.h>

#include "agent_defaults.h"
#include "listening.h"
#include "processing.h"
#include "type_library_interfaces.h"

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_MarrowbyListening, CListening)
OBJECT_ENTRY(CLSID_MarrowbyProcessing, CProcessing)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_MARROWBYLib, "Marrowby 1.0 Type Library", kTypeLibraryInterfaces)

namespace {

std::string ModuleDirectory() { return auralink::platform::FolderOfPath(_Module.GetModuleFileName()); }

}  // namespace

STDAPI DllCanUnloadNow() { return _Module.DllCanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return _Module.DllGetClassObject(rclsid, riid, ppv);
}

// A configuration that could not be written fully is a failed registration: the classes
// are not registered, so that nothing starts on half a configuration.
STDAPI DllRegisterServer() {
  LSTATUS written =
      marrowby::WriteAgentDefaults(ModuleDirectory(), CLSID_MarrowbyProcessing, CLSID_MarrowbyListening);
  if (written != ERROR_SUCCESS) return HRESULT_FROM_WIN32(written);
  if (!RegisterAgent(auralink::config::kEventAgent, marrowby::kAgentDescription, "", marrowby::kAgentType))
    return S_FALSE;
  return _Module.DllRegisterServer();
}

STDAPI DllUnregisterServer() {
  marrowby::RemoveAgentDefaults();
  if (!UnregisterAgent(auralink::config::kEventAgent, marrowby::kAgentDescription)) return S_FALSE;
  return _Module.DllUnregisterServer();
}
