// The test program's own module object: ATL-style classes defined in the tests count
// their live objects here.
#include <atlbase.h>

CComModule _Module;
