// COM objects in the ATL style: the object root with its thread model, the interface map
// (QueryInterface), the object wrappers that supply IUnknown (plain, aggregated, no module
// lock), creators and the class factory, the class-registration base, dual interfaces
// served from a dispatch table, the object map and the module's entry points.
//
// A server class reads as it would with ATL:
//
//   class ATL_NO_VTABLE CHub : public CComObjectRootEx<CComSingleThreadModel>,
//                              public CComCoClass<CHub, &CLSID_TouchpointHub>,
//                              public IDispatchImpl<IHub, &IID_IHub, &LIBID_X, &kHubDispatch> {
//    public:
//     DECLARE_REGISTRY_SCRIPT(kHubScript)
//     BEGIN_COM_MAP(CHub)
//       COM_INTERFACE_ENTRY(IHub)
//       COM_INTERFACE_ENTRY(IDispatch)
//     END_COM_MAP()
//     ...
//   };
//
// and the module's main file:
//
//   CComModule _Module;
//   BEGIN_OBJECT_MAP(ObjectMap)
//     OBJECT_ENTRY(CLSID_TouchpointHub, CHub)
//   END_OBJECT_MAP()
//   DECLARE_DLL_MAIN(ObjectMap, &LIBID_X, "Touchpoint 1.0 Type Library")
//   DECLARE_DLL_ENTRY_POINTS()   // or the four functions written out
#pragma once
#include <cstdint>
#include <new>

#include <windows.h>
#include "atlbase.h"
#include "dispatch_table.h"
#include "statreg.h"

namespace ATL {

// ---------------------------------------------------------------------------------------
// Interface map

// One interface of an object: its IID and how to reach it from the object's address.
struct _ATL_INTMAP_ENTRY {
  const IID* piid;
  void* (*pfnCast)(void* pThis);
};

template <class Interface, class Class>
void* _AtlCastTo(void* pThis) {
  return static_cast<Interface*>(static_cast<Class*>(pThis));
}
// For an interface reached through one particular base (COM_INTERFACE_ENTRY2).
template <class Interface, class Via, class Class>
void* _AtlCastVia(void* pThis) {
  return static_cast<Interface*>(static_cast<Via*>(static_cast<Class*>(pThis)));
}

// QueryInterface over an interface map: IID_IUnknown gives the first entry; an unknown IID
// answers E_NOINTERFACE with a null out pointer.
HRESULT WINAPI AtlInternalQueryInterface(void* pThis, const _ATL_INTMAP_ENTRY* pEntries, REFIID iid,
                                         void** ppvObject);

// ---------------------------------------------------------------------------------------
// Object roots

class CComObjectRootBase {
 public:
  CComObjectRootBase() = default;
  CComObjectRootBase(const CComObjectRootBase&) = delete;
  CComObjectRootBase& operator=(const CComObjectRootBase&) = delete;

  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}
  void InternalFinalConstructAddRef() {}
  void InternalFinalConstructRelease() {}
  void SetVoid(void*) {}

  static HRESULT WINAPI InternalQueryInterface(void* pThis, const _ATL_INTMAP_ENTRY* pEntries, REFIID iid,
                                               void** ppvObject) {
    return AtlInternalQueryInterface(pThis, pEntries, iid, ppvObject);
  }

  // Used by an object aggregated inside a controlling outer object.
  ULONG OuterAddRef() { return m_pOuterUnknown->AddRef(); }
  ULONG OuterRelease() { return m_pOuterUnknown->Release(); }
  HRESULT OuterQueryInterface(REFIID iid, void** ppvObject) { return m_pOuterUnknown->QueryInterface(iid, ppvObject); }

  LONG m_dwRef = 0;
  IUnknown* m_pOuterUnknown = nullptr;
};

template <class ThreadModel>
class CComObjectLockT;

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase {
 public:
  typedef ThreadModel _ThreadModel;
  typedef typename ThreadModel::AutoCriticalSection _CritSec;
  typedef CComObjectLockT<ThreadModel> ObjectLock;

  ULONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
  ULONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
  void Lock() { m_critsec.Lock(); }
  void Unlock() { m_critsec.Unlock(); }

 private:
  _CritSec m_critsec;
};

// Holds an object's own lock for a scope (a no-op in the single-threaded model).
template <class ThreadModel>
class CComObjectLockT {
 public:
  explicit CComObjectLockT(CComObjectRootEx<ThreadModel>* p) : m_p(p) {
    if (m_p) m_p->Lock();
  }
  ~CComObjectLockT() {
    if (m_p) m_p->Unlock();
  }
  CComObjectLockT(const CComObjectLockT&) = delete;
  CComObjectLockT& operator=(const CComObjectLockT&) = delete;

 private:
  CComObjectRootEx<ThreadModel>* m_p;
};

// Keeps the object alive while FinalConstruct hands out and drops references to itself.
#define DECLARE_PROTECT_FINAL_CONSTRUCT()                   \
  void InternalFinalConstructAddRef() { InternalAddRef(); } \
  void InternalFinalConstructRelease() { InternalRelease(); }

// ---------------------------------------------------------------------------------------
// COM map: BEGIN_COM_MAP / COM_INTERFACE_ENTRY... / END_COM_MAP inside the class.

#define BEGIN_COM_MAP(x)                                                             \
 public:                                                                             \
  typedef x _ComMapClass;                                                            \
  IUnknown* GetUnknown() {                                                           \
    return static_cast<IUnknown*>(_GetEntries()[0].pfnCast(static_cast<void*>(this))); \
  }                                                                                  \
  HRESULT _InternalQueryInterface(REFIID iid, void** ppvObject) {                    \
    return InternalQueryInterface(static_cast<void*>(this), _GetEntries(), iid, ppvObject); \
  }                                                                                  \
  static const ::ATL::_ATL_INTMAP_ENTRY* _GetEntries() {                             \
    static const ::ATL::_ATL_INTMAP_ENTRY _entries[] = {
#define COM_INTERFACE_ENTRY(x) {&__uuidof(x), &::ATL::_AtlCastTo<x, _ComMapClass>},
#define COM_INTERFACE_ENTRY_IID(iid, x) {&iid, &::ATL::_AtlCastTo<x, _ComMapClass>},
#define COM_INTERFACE_ENTRY2(x, x2) {&__uuidof(x), &::ATL::_AtlCastVia<x, x2, _ComMapClass>},
#define END_COM_MAP()                                  \
  {nullptr, nullptr}                                   \
  }                                                    \
  ;                                                    \
  return _entries;                                     \
  }                                                    \
  STDMETHOD_(ULONG, AddRef)() = 0;                     \
  STDMETHOD_(ULONG, Release)() = 0;                    \
  STDMETHOD(QueryInterface)(REFIID, void**) = 0;

// ---------------------------------------------------------------------------------------
// Object wrappers: they supply IUnknown for a class that has a COM map.

// A creatable object: counts in its module's lock count while it lives.
template <class Base>
class CComObject : public Base {
 public:
  typedef Base _BaseClass;
  explicit CComObject(void* = nullptr) { _Module.Lock(); }
  virtual ~CComObject() {
    this->m_dwRef = -(INT32_MAX / 2);  // a reference taken during FinalRelease must not delete again
    this->FinalRelease();
    _Module.Unlock();
  }
  STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
  STDMETHOD_(ULONG, Release)() override {
    ULONG count = this->InternalRelease();
    if (count == 0) delete this;
    return count;
  }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppvObject) override {
    return this->_InternalQueryInterface(iid, ppvObject);
  }
  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
  }

  // A new object with reference count 0 (FinalConstruct has run).
  static HRESULT WINAPI CreateInstance(CComObject<Base>** pp);
};

template <class Base>
HRESULT WINAPI CComObject<Base>::CreateInstance(CComObject<Base>** pp) {
  if (!pp) return E_POINTER;
  *pp = nullptr;
  CComObject<Base>* p = nullptr;
  try {
    p = new (std::nothrow) CComObject<Base>();
  } catch (const std::bad_alloc&) {
    p = nullptr;
  }
  if (!p) return E_OUTOFMEMORY;
  p->SetVoid(nullptr);
  p->InternalFinalConstructAddRef();
  HRESULT hr = p->FinalConstruct();
  p->InternalFinalConstructRelease();
  if (FAILED(hr)) {
    delete p;
    return hr;
  }
  *pp = p;
  return hr;
}

// An object that does not keep its module loaded (the class factory, which counts
// through its module pointer instead).
template <class Base>
class CComObjectNoLock : public Base {
 public:
  typedef Base _BaseClass;
  explicit CComObjectNoLock(void* = nullptr) {}
  virtual ~CComObjectNoLock() {
    this->m_dwRef = -(INT32_MAX / 2);
    this->FinalRelease();
  }
  STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
  STDMETHOD_(ULONG, Release)() override {
    ULONG count = this->InternalRelease();
    if (count == 0) delete this;
    return count;
  }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppvObject) override {
    return this->_InternalQueryInterface(iid, ppvObject);
  }
};

// The inner object of an aggregate: every IUnknown call goes to the controlling outer
// object.
template <class Base>
class CComContainedObject : public Base {
 public:
  typedef Base _BaseClass;
  explicit CComContainedObject(void* pv) { this->m_pOuterUnknown = static_cast<IUnknown*>(pv); }
  STDMETHOD_(ULONG, AddRef)() override { return this->OuterAddRef(); }
  STDMETHOD_(ULONG, Release)() override { return this->OuterRelease(); }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppvObject) override { return this->OuterQueryInterface(iid, ppvObject); }
  IUnknown* GetControllingUnknown() { return this->m_pOuterUnknown; }
};

// An object created inside a controlling outer object. Its own IUnknown (the one handed
// to the outer object) counts references and answers IUnknown itself; every other
// interface comes from the contained object and delegates to the outer object.
template <class contained>
class CComAggObject : public IUnknown,
                      public CComObjectRootEx<typename contained::_ThreadModel::ThreadModelNoCS> {
 public:
  typedef contained _BaseClass;
  explicit CComAggObject(void* pv) : m_contained(pv) { _Module.Lock(); }
  virtual ~CComAggObject() {
    this->m_dwRef = -(INT32_MAX / 2);
    FinalRelease();
    _Module.Unlock();
  }
  HRESULT FinalConstruct() { return m_contained.FinalConstruct(); }
  void FinalRelease() { m_contained.FinalRelease(); }
  void InternalFinalConstructAddRef() { m_contained.InternalFinalConstructAddRef(); }
  void InternalFinalConstructRelease() { m_contained.InternalFinalConstructRelease(); }

  STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
  STDMETHOD_(ULONG, Release)() override {
    ULONG count = this->InternalRelease();
    if (count == 0) delete this;
    return count;
  }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (InlineIsEqualUnknown(iid)) {
      *ppvObject = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return m_contained._InternalQueryInterface(iid, ppvObject);
  }

  CComContainedObject<contained> m_contained;
};

// ---------------------------------------------------------------------------------------
// Creators: how a class factory makes an object.

typedef HRESULT(WINAPI _ATL_CREATORFUNC)(void* pv, REFIID riid, LPVOID* ppv);

template <class T1>
class CComCreator {
 public:
  // pv is the controlling outer object (or null).
  static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    T1* p = nullptr;
    try {
      p = new (std::nothrow) T1(pv);
    } catch (const std::bad_alloc&) {
      p = nullptr;
    }
    if (!p) return E_OUTOFMEMORY;
    p->SetVoid(pv);
    p->InternalFinalConstructAddRef();
    HRESULT hr = p->FinalConstruct();
    p->InternalFinalConstructRelease();
    if (SUCCEEDED(hr)) hr = p->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete p;
    return hr;
  }
};

// T1 makes standalone objects, T2 aggregated ones.
template <class T1, class T2>
class CComCreator2 {
 public:
  static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, LPVOID* ppv) {
    return pv == nullptr ? T1::CreateInstance(nullptr, riid, ppv) : T2::CreateInstance(pv, riid, ppv);
  }
};

template <HRESULT hr>
class CComFailCreator {
 public:
  static HRESULT WINAPI CreateInstance(void*, REFIID, LPVOID* ppv) {
    if (ppv) *ppv = nullptr;
    return hr;
  }
};

#define DECLARE_AGGREGATABLE(x)                                          \
 public:                                                                 \
  typedef ::ATL::CComCreator2<::ATL::CComCreator<::ATL::CComObject<x>>,  \
                              ::ATL::CComCreator<::ATL::CComAggObject<x>>> \
      _CreatorClass;
#define DECLARE_NOT_AGGREGATABLE(x)                                     \
 public:                                                                \
  typedef ::ATL::CComCreator2<::ATL::CComCreator<::ATL::CComObject<x>>, \
                              ::ATL::CComFailCreator<CLASS_E_NOAGGREGATION>> \
      _CreatorClass;
#define DECLARE_ONLY_AGGREGATABLE(x)                                            \
 public:                                                                        \
  typedef ::ATL::CComCreator2<::ATL::CComFailCreator<E_FAIL>,                   \
                              ::ATL::CComCreator<::ATL::CComAggObject<x>>>      \
      _CreatorClass;

// ---------------------------------------------------------------------------------------
// The class factory. Inside an outer object only IUnknown may be asked for
// (CLASS_E_NOAGGREGATION otherwise). The factory and each LockServer(TRUE) count in the
// lock count of the module that made it.

class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComGlobalsThreadModel> {
 public:
  BEGIN_COM_MAP(CComClassFactory)
  COM_INTERFACE_ENTRY(IClassFactory)
  END_COM_MAP()

  ~CComClassFactory();
  STDMETHOD(CreateInstance)(LPUNKNOWN pUnkOuter, REFIID riid, void** ppvObj) override;
  STDMETHOD(LockServer)(BOOL fLock) override;

  // The creator of the class, and the module whose lock count the factory keeps.
  void SetCreator(_ATL_CREATORFUNC* pfnCreateInstance, CComModule* pModule);

  _ATL_CREATORFUNC* m_pfnCreateInstance = nullptr;
  CComModule* m_pModule = nullptr;
};

// ---------------------------------------------------------------------------------------
// CComCoClass: the class's CLSID, creator (aggregatable by default) and description.

template <class T, const CLSID* pclsid = &CLSID_NULL>
class CComCoClass {
 public:
  DECLARE_AGGREGATABLE(T)
  static const CLSID& WINAPI GetObjectCLSID() { return *pclsid; }
  static LPCSTR WINAPI GetObjectDescription() { return nullptr; }

  template <class Q>
  static HRESULT CreateInstance(IUnknown* punkOuter, Q** pp) {
    return T::_CreatorClass::CreateInstance(punkOuter, __uuidof(Q), reinterpret_cast<void**>(pp));
  }
  template <class Q>
  static HRESULT CreateInstance(Q** pp) {
    return T::_CreatorClass::CreateInstance(nullptr, __uuidof(Q), reinterpret_cast<void**>(pp));
  }
};

#define DECLARE_OBJECT_DESCRIPTION(text) \
  static LPCSTR WINAPI GetObjectDescription() { return text; }

// ---------------------------------------------------------------------------------------
// IDispatchImpl: the IDispatch half of a dual interface, served from the interface's
// dispatch table (there is no type information: GetTypeInfoCount answers 0).

template <class T, const IID* piid, const GUID* plibid, const auralink::platform::DispatchTable* ptable>
class ATL_NO_VTABLE IDispatchImpl : public T {
 public:
  typedef T _DualInterface;
  static const IID& GetInterfaceIID() { return *piid; }
  static const GUID& GetLibraryID() { return *plibid; }

  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgdispid) override {
    return auralink::platform::DispatchGetIDsOfNames(*ptable, riid, rgszNames, cNames, rgdispid);
  }
  STDMETHOD(Invoke)(DISPID dispidMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pdispparams,
                    VARIANT* pvarResult, EXCEPINFO*, UINT* puArgErr) override {
    IDispatch* self = static_cast<IDispatch*>(static_cast<T*>(this));
    return auralink::platform::DispatchInvoke(*ptable, self, dispidMember, riid, wFlags, pdispparams, pvarResult,
                                              puArgErr);
  }
};

// ---------------------------------------------------------------------------------------
// Registration scripts: a class gives its script as text. The replacements %MODULE%,
// %CLSID% and %LIBID% are filled in by the module.

#define DECLARE_REGISTRY_SCRIPT(script)                                          \
  static HRESULT WINAPI UpdateRegistry(BOOL bRegister) {                         \
    return _Module.UpdateRegistryFromScript(script, bRegister, GetObjectCLSID()); \
  }
#define DECLARE_NO_REGISTRY() \
  static HRESULT WINAPI UpdateRegistry(BOOL) { return S_OK; }

// ---------------------------------------------------------------------------------------
// Object map: the classes of a module.

struct _ATL_OBJMAP_ENTRY {
  const CLSID* pclsid;
  HRESULT(WINAPI* pfnUpdateRegistry)(BOOL bRegister);
  _ATL_CREATORFUNC* pfnCreateInstance;  // null: not creatable through a class factory
  LPCSTR(WINAPI* pfnGetObjectDescription)();
};

#define BEGIN_OBJECT_MAP(x) static ::ATL::_ATL_OBJMAP_ENTRY x[] = {
#define OBJECT_ENTRY(clsid, x) {&clsid, &x::UpdateRegistry, &x::_CreatorClass::CreateInstance, &x::GetObjectDescription},
#define OBJECT_ENTRY_NON_CREATEABLE(x) {&CLSID_NULL, &x::UpdateRegistry, nullptr, &x::GetObjectDescription},
#define END_OBJECT_MAP()          \
  {nullptr, nullptr, nullptr, nullptr} \
  }                               \
  ;

}  // namespace ATL

// What DllMain's process attach and detach do on Windows: the module is initialised with
// its object map and type library when it is loaded and terminated when it is unloaded.
// The optional last argument lists the type library's interfaces (TypeLibraryInterface,
// generated from the module's IDL file by auralink_type_library()).
#define DECLARE_DLL_MAIN(objectMap, plibid, typeLibDescription, ...)                                       \
  namespace {                                                                                              \
  struct AtlDllMain {                                                                                      \
    AtlDllMain() { _Module.Init(objectMap, nullptr, plibid, typeLibDescription, 1, 0 __VA_OPT__(, ) __VA_ARGS__); } \
    ~AtlDllMain() { _Module.Term(); }                                                                      \
  } atlDllMain;                                                                                            \
  }

// The four exported entry points of a server that needs nothing beyond its classes and
// type library at registration.
#define DECLARE_DLL_ENTRY_POINTS()                                                                                 \
  STDAPI DllCanUnloadNow() { return _Module.DllCanUnloadNow(); }                                                   \
  STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {                                            \
    return _Module.DllGetClassObject(rclsid, riid, ppv);                                                           \
  }                                                                                                                \
  STDAPI DllRegisterServer() { return _Module.DllRegisterServer(); }                                               \
  STDAPI DllUnregisterServer() { return _Module.DllUnregisterServer(); }

#ifndef _ATL_NO_AUTOMATIC_NAMESPACE
using namespace ATL;
#endif
