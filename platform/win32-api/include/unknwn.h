// IUnknown and IClassFactory. Interfaces are plain abstract structs: the vtable slot order
// is the declaration order, as on Windows.
#pragma once
#include "winerror.h"
#include "wtypes.h"

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
typedef IClassFactory* LPCLASSFACTORY;

// __uuidof stand-in: each interface declares its IID through this trait.
template <typename T>
struct InterfaceId;
template <>
struct InterfaceId<IUnknown> {
  static constexpr const IID& value = IID_IUnknown;
};
template <>
struct InterfaceId<IClassFactory> {
  static constexpr const IID& value = IID_IClassFactory;
};
#define AURALINK_DECLARE_IID(Interface, iid) \
  template <>                                \
  struct InterfaceId<Interface> {            \
    static constexpr const IID& value = iid; \
  }
#define __uuidof(Interface) (InterfaceId<Interface>::value)
#define IID_PPV_ARGS(pp) __uuidof(std::remove_pointer_t<std::remove_reference_t<decltype(*(pp))>>), reinterpret_cast<void**>(pp)
