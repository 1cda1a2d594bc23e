// A function of a loaded module, as the type the caller knows it has (an entry point such
// as DllRegisterServer, or a test module's own export); null when the module lacks it.
#pragma once
#include <windows.h>

namespace auralink::testing {

template <class Function>
Function ModuleFunction(HMODULE module, const char* name) {
  // Through the generic function pointer type, which every function pointer converts to
  // and back from without a warning about incompatible function types.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace auralink::testing
