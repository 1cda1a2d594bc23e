// The Quillon module: its classes, its type library and the four entry points.
#include <atlbase.h>
#include <atlcom.h>

#include "discovery.h"

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_QuillonDiscovery, CDiscovery)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_QUILLONLib, "Quillon 1.0 Type Library")
DECLARE_DLL_ENTRY_POINTS()
