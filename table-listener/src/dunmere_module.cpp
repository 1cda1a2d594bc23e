// The Dunmere module: its one class, its type library and the four entry points.
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>

#include "listening.h"
#include "type_library_interfaces.h"

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_DunmereListening, CListening)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_DUNMERELib, "Dunmere 1.0 Type Library", kTypeLibraryInterfaces)

// DllRegisterServer / DllUnregisterServer: the class's script and the type library only;
// the agents' table entries come from their own registrations.
DECLARE_DLL_ENTRY_POINTS()
