// GUIDs of our own interfaces and classes, and how `__uuidof(Interface)` finds an
// interface's IID on each system: on Linux through the platform's InterfaceId trait, with
// mingw-w64 through its __mingw_uuidof<T>() (there is no compiler support for
// __declspec(uuid) in GCC).
#pragma once
#include <windows.h>
#include <unknwn.h>

// A GUID defined once for every module that includes the header.
#define AURALINK_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

#ifdef _WIN32
#define AURALINK_DECLARE_IID(Interface, iid)                                        \
  template <>                                                                       \
  constexpr const GUID& __mingw_uuidof<Interface>() {                               \
    return iid;                                                                     \
  }                                                                                 \
  template <>                                                                       \
  constexpr const GUID& __mingw_uuidof<Interface*>() {                              \
    return iid;                                                                     \
  }
#endif
// On Linux unknwn.h defines AURALINK_DECLARE_IID over its InterfaceId trait.
