// In place of a type library: each dual interface has a small table that names its own
// methods in slot order. The dispatch identifier of a method is its index in the table
// plus one, so GetIDsOfNames and Invoke can serve IDispatch for any dual interface.
#pragma once
#include <cstddef>
#include "oaidl.h"

namespace auralink::platform {

// Unpacks the DISPPARAMS (arguments in reverse order, VT_BYREF for out parameters),
// calls the method on the object and stores its HRESULT-derived result.
typedef HRESULT (*DispatchInvoker)(IDispatch* self, DISPPARAMS* params, VARIANT* result, UINT* argErr);

struct DispatchMember {
  const wchar_t* name;
  DispatchInvoker invoke;
};

struct DispatchTable {
  const IID* iid;
  const DispatchMember* members;
  size_t count;
};

}  // namespace auralink::platform
