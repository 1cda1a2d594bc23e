// The Touchpoint module: its one class, its type library and the four entry points.
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>

#include "hub.h"
#include "type_library_interfaces.h"

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_TouchpointHub, CHub)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_DUVIZAREZEZaz, "Touchpoint 1.0 Type Library", kTypeLibraryInterfaces)

// DllCanUnloadNow: S_OK only when no object and no factory lock is outstanding.
// DllRegisterServer / DllUnregisterServer: the class's script and the type library.
DECLARE_DLL_ENTRY_POINTS()
