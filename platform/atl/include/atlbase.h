// The base of the ATL-style server framework: thread models, smart owners of interface
// pointers, strings, variants, safe arrays and registry keys, and the module object
// (CComModule) that every COM server defines once as `CComModule _Module;`.
//
// The module object keeps the server's lock count, its object map and its type-library
// description; its functions live in the platform library and work on the object they
// are called on, so each loaded server has its own state.
#pragma once
#include <cassert>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <auralink/platform/text.h>

namespace auralink::platform {
struct TypeLibraryInterface;  // statreg.h
}

#define ATL_NO_VTABLE
#ifndef ATLASSERT
#define ATLASSERT(expr) assert(expr)
#endif

namespace ATL {

inline bool InlineIsEqualUnknown(REFGUID rguid) { return IsEqualGUID(rguid, IID_IUnknown); }

// ---------------------------------------------------------------------------------------
// Thread models: how reference counts change and whether an object has a lock of its own.

class CComFakeCriticalSection {
 public:
  HRESULT Lock() { return S_OK; }
  HRESULT Unlock() { return S_OK; }
  HRESULT Init() { return S_OK; }
  HRESULT Term() { return S_OK; }
};

class CComAutoCriticalSection {
 public:
  CComAutoCriticalSection() { InitializeCriticalSection(&m_sec); }
  ~CComAutoCriticalSection() { DeleteCriticalSection(&m_sec); }
  CComAutoCriticalSection(const CComAutoCriticalSection&) = delete;
  CComAutoCriticalSection& operator=(const CComAutoCriticalSection&) = delete;
  HRESULT Lock() {
    EnterCriticalSection(&m_sec);
    return S_OK;
  }
  HRESULT Unlock() {
    LeaveCriticalSection(&m_sec);
    return S_OK;
  }

 private:
  CRITICAL_SECTION m_sec;
};

// Apartment objects: only their apartment's thread calls them, so plain ++ and -- do.
class CComSingleThreadModel {
 public:
  static ULONG WINAPI Increment(LONG* p) { return static_cast<ULONG>(++(*p)); }
  static ULONG WINAPI Decrement(LONG* p) { return static_cast<ULONG>(--(*p)); }
  typedef CComFakeCriticalSection AutoCriticalSection;
  typedef CComFakeCriticalSection CriticalSection;
  typedef CComSingleThreadModel ThreadModelNoCS;
};

class CComMultiThreadModelNoCS {
 public:
  static ULONG WINAPI Increment(LONG* p) { return static_cast<ULONG>(InterlockedIncrement(p)); }
  static ULONG WINAPI Decrement(LONG* p) { return static_cast<ULONG>(InterlockedDecrement(p)); }
  typedef CComFakeCriticalSection AutoCriticalSection;
  typedef CComFakeCriticalSection CriticalSection;
  typedef CComMultiThreadModelNoCS ThreadModelNoCS;
};

class CComMultiThreadModel {
 public:
  static ULONG WINAPI Increment(LONG* p) { return static_cast<ULONG>(InterlockedIncrement(p)); }
  static ULONG WINAPI Decrement(LONG* p) { return static_cast<ULONG>(InterlockedDecrement(p)); }
  typedef CComAutoCriticalSection AutoCriticalSection;
  typedef CComAutoCriticalSection CriticalSection;
  typedef CComMultiThreadModelNoCS ThreadModelNoCS;
};

typedef CComSingleThreadModel CComObjectThreadModel;
typedef CComMultiThreadModel CComGlobalsThreadModel;

// ---------------------------------------------------------------------------------------
// CComPtr / CComQIPtr: one reference on an interface pointer.

template <class T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(T* lp) : p(lp) {  // NOLINT: implicit like ATL's
    if (p) p->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.p) {}
  CComPtr(CComPtr&& other) noexcept : p(std::exchange(other.p, nullptr)) {}
  ~CComPtr() { Release(); }
  CComPtr& operator=(T* lp) {
    if (lp) lp->AddRef();
    Release();
    p = lp;
    return *this;
  }
  CComPtr& operator=(const CComPtr& other) { return *this = other.p; }
  CComPtr& operator=(CComPtr&& other) noexcept {
    if (this != std::addressof(other)) {
      Release();
      p = std::exchange(other.p, nullptr);
    }
    return *this;
  }

  operator T*() const { return p; }
  T* operator->() const {
    ATLASSERT(p != nullptr);
    return p;
  }
  T& operator*() const { return *p; }
  // For out parameters: the pointer must be empty, as in ATL.
  T** operator&() {
    ATLASSERT(p == nullptr);
    return &p;
  }
  bool operator!() const { return p == nullptr; }

  void Release() {
    if (T* old = std::exchange(p, nullptr)) old->Release();
  }
  void Attach(T* lp) {
    Release();
    p = lp;
  }
  T* Detach() { return std::exchange(p, nullptr); }
  HRESULT CopyTo(T** pp) const {
    if (!pp) return E_POINTER;
    *pp = p;
    if (p) p->AddRef();
    return S_OK;
  }
  template <class Q>
  HRESULT QueryInterface(Q** pp) const {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    if (!p) return E_POINTER;
    return p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
  }
  HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter = nullptr, DWORD dwClsContext = CLSCTX_ALL) {
    ATLASSERT(p == nullptr);
    return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, __uuidof(T), reinterpret_cast<void**>(&p));
  }
  bool IsEqualObject(IUnknown* other) const;

  T* p = nullptr;
};

template <class T, const IID* piid = &__uuidof(T)>
class CComQIPtr : public CComPtr<T> {
 public:
  CComQIPtr() = default;
  CComQIPtr(T* lp) : CComPtr<T>(lp) {}  // NOLINT
  CComQIPtr(const CComQIPtr& other) : CComPtr<T>(other.p) {}
  CComQIPtr(IUnknown* lp) {  // NOLINT
    if (lp) lp->QueryInterface(*piid, reinterpret_cast<void**>(&this->p));
  }
  CComQIPtr& operator=(const CComQIPtr& other) {
    CComPtr<T>::operator=(other.p);
    return *this;
  }
  CComQIPtr& operator=(T* lp) {
    CComPtr<T>::operator=(lp);
    return *this;
  }
  CComQIPtr& operator=(IUnknown* lp) {
    T* found = nullptr;
    if (lp) lp->QueryInterface(*piid, reinterpret_cast<void**>(&found));
    this->Attach(found);
    return *this;
  }
};

// IUnknown itself needs no query: a plain reference.
template <>
class CComQIPtr<IUnknown, &__uuidof(IUnknown)> : public CComPtr<IUnknown> {
 public:
  CComQIPtr() = default;
  CComQIPtr(IUnknown* lp) : CComPtr<IUnknown>(lp) {}  // NOLINT
};

template <class T>
bool CComPtr<T>::IsEqualObject(IUnknown* other) const {
  if (!p && !other) return true;
  if (!p || !other) return false;
  CComQIPtr<IUnknown> mine(static_cast<IUnknown*>(p));
  IUnknown* otherIdentity = nullptr;
  other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&otherIdentity));
  bool same = otherIdentity && static_cast<IUnknown*>(mine) == otherIdentity;
  if (otherIdentity) otherIdentity->Release();
  return same;
}

// ---------------------------------------------------------------------------------------
// CComBSTR: owns one BSTR. Narrow text is converted from the system's code page.

class CComBSTR {
 public:
  CComBSTR() = default;
  explicit CComBSTR(int nSize) : m_str(SysAllocStringLen(nullptr, static_cast<UINT>(nSize))) {}
  CComBSTR(LPCOLESTR psz) : m_str(psz ? SysAllocString(psz) : nullptr) {}  // NOLINT
  CComBSTR(int nSize, LPCOLESTR sz) : m_str(SysAllocStringLen(sz, static_cast<UINT>(nSize))) {}
  CComBSTR(LPCSTR psz) : m_str(psz ? auralink::platform::AllocBstr(psz) : nullptr) {}  // NOLINT
  explicit CComBSTR(std::string_view narrow) : m_str(auralink::platform::AllocBstr(narrow)) {}
  CComBSTR(const CComBSTR& src) : m_str(src.Copy()) {}
  CComBSTR(CComBSTR&& src) noexcept : m_str(std::exchange(src.m_str, nullptr)) {}
  ~CComBSTR() { SysFreeString(m_str); }

  CComBSTR& operator=(const CComBSTR& src) {
    if (this != std::addressof(src)) {
      BSTR copy = src.Copy();
      SysFreeString(m_str);
      m_str = copy;
    }
    return *this;
  }
  CComBSTR& operator=(CComBSTR&& src) noexcept {
    if (this != std::addressof(src)) {
      SysFreeString(m_str);
      m_str = std::exchange(src.m_str, nullptr);
    }
    return *this;
  }
  CComBSTR& operator=(LPCOLESTR psz) {
    BSTR copy = psz ? SysAllocString(psz) : nullptr;
    SysFreeString(m_str);
    m_str = copy;
    return *this;
  }
  CComBSTR& operator=(LPCSTR psz) {
    BSTR copy = psz ? auralink::platform::AllocBstr(psz) : nullptr;
    SysFreeString(m_str);
    m_str = copy;
    return *this;
  }

  operator BSTR() const { return m_str; }
  // For out parameters: the string must be empty, as in ATL.
  BSTR* operator&() {
    ATLASSERT(m_str == nullptr);
    return &m_str;
  }
  bool operator!() const { return m_str == nullptr; }
  bool operator==(const CComBSTR& other) const { return Equals(other.m_str); }
  bool operator==(LPCOLESTR other) const { return Equals(other); }

  unsigned int Length() const { return SysStringLen(m_str); }
  unsigned int ByteLength() const { return SysStringByteLen(m_str); }
  // A new copy that the caller owns (null for a null string).
  BSTR Copy() const { return m_str ? SysAllocStringLen(m_str, SysStringLen(m_str)) : nullptr; }
  HRESULT CopyTo(BSTR* pbstr) const {
    if (!pbstr) return E_POINTER;
    *pbstr = Copy();
    return (m_str && !*pbstr) ? E_OUTOFMEMORY : S_OK;
  }
  void Attach(BSTR src) {
    if (m_str != src) {
      SysFreeString(m_str);
      m_str = src;
    }
  }
  BSTR Detach() { return std::exchange(m_str, nullptr); }
  void Empty() { SysFreeString(std::exchange(m_str, nullptr)); }
  HRESULT Append(LPCOLESTR psz) { return psz ? Append(psz, static_cast<int>(wcslen(psz))) : S_OK; }
  HRESULT Append(LPCOLESTR psz, int nLen) {
    UINT current = Length();
    BSTR joined = SysAllocStringLen(nullptr, current + static_cast<UINT>(nLen));
    if (!joined) return E_OUTOFMEMORY;
    if (current) wmemcpy(joined, m_str, current);
    if (nLen) wmemcpy(joined + current, psz, static_cast<size_t>(nLen));
    SysFreeString(m_str);
    m_str = joined;
    return S_OK;
  }
  HRESULT Append(LPCSTR psz) {
    std::wstring wide = auralink::platform::ToWide(psz ? psz : "");
    return Append(wide.c_str(), static_cast<int>(wide.size()));
  }
  // The text in the system's narrow code page.
  std::string ToNarrow() const { return auralink::platform::BstrToNarrow(m_str); }

  BSTR m_str = nullptr;

 private:
  bool Equals(LPCOLESTR other) const {
    UINT mine = Length();
    size_t theirs = other ? wcslen(other) : 0;
    return mine == theirs && (mine == 0 || wmemcmp(m_str, other, mine) == 0);
  }
};

// ---------------------------------------------------------------------------------------
// CComVariant: a VARIANT that clears itself.

class CComVariant : public tagVARIANT {
 public:
  CComVariant() { ::VariantInit(this); }
  CComVariant(const VARIANT& src) {  // NOLINT
    ::VariantInit(this);
    InternalCopy(&src);
  }
  CComVariant(const CComVariant& src) : CComVariant(static_cast<const VARIANT&>(src)) {}
  CComVariant(LONG value) {  // NOLINT
    ::VariantInit(this);
    vt = VT_I4;
    lVal = value;
  }
  CComVariant(SHORT value) {  // NOLINT
    ::VariantInit(this);
    vt = VT_I2;
    iVal = value;
  }
  CComVariant(bool value) {  // NOLINT
    ::VariantInit(this);
    vt = VT_BOOL;
    boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  CComVariant(LPCOLESTR text) {  // NOLINT
    ::VariantInit(this);
    vt = VT_BSTR;
    bstrVal = SysAllocString(text ? text : L"");
    if (!bstrVal) SetError(E_OUTOFMEMORY);
  }
  CComVariant(LPCSTR text) {  // NOLINT
    ::VariantInit(this);
    vt = VT_BSTR;
    bstrVal = auralink::platform::AllocBstr(text ? text : "");
    if (!bstrVal) SetError(E_OUTOFMEMORY);
  }
  CComVariant(IUnknown* p) {  // NOLINT
    ::VariantInit(this);
    vt = VT_UNKNOWN;
    punkVal = p;
    if (p) p->AddRef();
  }
  CComVariant(IDispatch* p) {  // NOLINT
    ::VariantInit(this);
    vt = VT_DISPATCH;
    pdispVal = p;
    if (p) p->AddRef();
  }
  ~CComVariant() { ::VariantClear(this); }

  CComVariant& operator=(const CComVariant& src) {
    if (this != std::addressof(src)) InternalCopy(&src);
    return *this;
  }
  CComVariant& operator=(const VARIANT& src) {
    if (static_cast<const VARIANT*>(this) != &src) InternalCopy(&src);
    return *this;
  }

  HRESULT Clear() { return ::VariantClear(this); }
  // Windows declares VariantCopy's source without const; it is only read.
  HRESULT Copy(const VARIANT* src) { return ::VariantCopy(this, const_cast<VARIANT*>(src)); }
  // Takes over *src, which is left empty.
  HRESULT Attach(VARIANT* src) {
    if (!src) return E_INVALIDARG;
    HRESULT hr = Clear();
    if (FAILED(hr)) return hr;
    *static_cast<VARIANT*>(this) = *src;
    src->vt = VT_EMPTY;
    return S_OK;
  }
  // Hands the value to *dest (cleared first); this variant is left empty.
  HRESULT Detach(VARIANT* dest) {
    if (!dest) return E_POINTER;
    HRESULT hr = ::VariantClear(dest);
    if (FAILED(hr)) return hr;
    *dest = *static_cast<VARIANT*>(this);
    vt = VT_EMPTY;
    return S_OK;
  }
  HRESULT CopyTo(BSTR* pstrDest) const {
    if (!pstrDest) return E_POINTER;
    if (vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    *pstrDest = SysAllocStringLen(bstrVal, SysStringLen(bstrVal));
    return *pstrDest ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT ChangeType(VARTYPE vtNew, const VARIANT* src = nullptr) {
    VARIANT* from = const_cast<VARIANT*>(src ? src : static_cast<const VARIANT*>(this));
    return ::VariantChangeType(this, from, 0, vtNew);
  }

 private:
  void InternalCopy(const VARIANT* src) {
    HRESULT hr = ::VariantCopy(this, const_cast<VARIANT*>(src));
    if (FAILED(hr)) SetError(hr);
  }
  void SetError(HRESULT hr) {
    ::VariantClear(this);
    vt = VT_ERROR;
    scode = hr;
  }
};

// ---------------------------------------------------------------------------------------
// CComSafeArrayOwner: destroys one SAFEARRAY when it goes, unless it was detached.

class CComSafeArrayOwner {
 public:
  CComSafeArrayOwner() = default;
  explicit CComSafeArrayOwner(SAFEARRAY* psa) : m_psa(psa) {}
  CComSafeArrayOwner(const CComSafeArrayOwner&) = delete;
  CComSafeArrayOwner& operator=(const CComSafeArrayOwner&) = delete;
  CComSafeArrayOwner(CComSafeArrayOwner&& other) noexcept : m_psa(other.Detach()) {}
  CComSafeArrayOwner& operator=(CComSafeArrayOwner&& other) noexcept {
    if (this != std::addressof(other)) Attach(other.Detach());
    return *this;
  }
  ~CComSafeArrayOwner() { Destroy(); }

  operator SAFEARRAY*() const { return m_psa; }
  SAFEARRAY* Get() const { return m_psa; }
  // For out parameters: the owner must be empty.
  SAFEARRAY** operator&() {
    ATLASSERT(m_psa == nullptr);
    return &m_psa;
  }
  void Attach(SAFEARRAY* psa) {
    if (psa != m_psa) {
      Destroy();
      m_psa = psa;
    }
  }
  SAFEARRAY* Detach() { return std::exchange(m_psa, nullptr); }
  HRESULT Destroy() {
    SAFEARRAY* psa = std::exchange(m_psa, nullptr);
    return psa ? SafeArrayDestroy(psa) : S_OK;
  }
  // Elements of a one-dimensional array (0 for none).
  ULONG GetCount() const {
    if (!m_psa || SafeArrayGetDim(m_psa) != 1) return 0;
    return m_psa->rgsabound[0].cElements;
  }

 private:
  SAFEARRAY* m_psa = nullptr;
};

// ---------------------------------------------------------------------------------------
// CRegKey: one open registry key, closed when it goes.

class CRegKey {
 public:
  CRegKey() = default;
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;
  ~CRegKey() { Close(); }

  operator HKEY() const { return m_hKey; }
  LONG Create(HKEY hKeyParent, LPCSTR lpszKeyName, REGSAM samDesired = KEY_READ | KEY_WRITE,
              LPDWORD lpdwDisposition = nullptr) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(hKeyParent, lpszKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE, samDesired,
                                  nullptr, &key, lpdwDisposition);
    if (result == ERROR_SUCCESS) Attach(key);
    return result;
  }
  LONG Open(HKEY hKeyParent, LPCSTR lpszKeyName, REGSAM samDesired = KEY_READ | KEY_WRITE) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(hKeyParent, lpszKeyName, 0, samDesired, &key);
    if (result == ERROR_SUCCESS) Attach(key);
    return result;
  }
  LONG Close() {
    HKEY key = std::exchange(m_hKey, nullptr);
    return key ? RegCloseKey(key) : ERROR_SUCCESS;
  }
  void Attach(HKEY hKey) {
    Close();
    m_hKey = hKey;
  }
  HKEY Detach() { return std::exchange(m_hKey, nullptr); }

  LONG SetStringValue(LPCSTR pszValueName, LPCSTR pszValue, DWORD dwType = REG_SZ) {
    if (!pszValue) return ERROR_INVALID_PARAMETER;
    return RegSetValueExA(m_hKey, pszValueName, 0, dwType, reinterpret_cast<const BYTE*>(pszValue),
                          static_cast<DWORD>(strlen(pszValue) + 1));
  }
  LONG SetDWORDValue(LPCSTR pszValueName, DWORD dwValue) {
    return RegSetValueExA(m_hKey, pszValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                          sizeof(dwValue));
  }
  LONG SetBinaryValue(LPCSTR pszValueName, const void* pValue, ULONG nBytes) {
    return RegSetValueExA(m_hKey, pszValueName, 0, REG_BINARY, static_cast<const BYTE*>(pValue), nBytes);
  }
  // *pnChars is the buffer size in characters on entry and the size used (with the
  // terminator) on return.
  LONG QueryStringValue(LPCSTR pszValueName, LPSTR pszValue, ULONG* pnChars) {
    if (!pnChars) return ERROR_INVALID_PARAMETER;
    DWORD type = 0;
    DWORD bytes = *pnChars;
    LONG result = RegQueryValueExA(m_hKey, pszValueName, nullptr, &type, reinterpret_cast<LPBYTE>(pszValue), &bytes);
    *pnChars = bytes;
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
  }
  // The whole string value, whatever its length.
  LONG QueryStringValue(LPCSTR pszValueName, std::string& value) {
    DWORD type = 0;
    DWORD bytes = 0;
    LONG result = RegQueryValueExA(m_hKey, pszValueName, nullptr, &type, nullptr, &bytes);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    std::string buffer(bytes, '\0');
    result = RegQueryValueExA(m_hKey, pszValueName, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &bytes);
    if (result != ERROR_SUCCESS) return result;
    buffer.resize(strnlen(buffer.data(), bytes));
    value = std::move(buffer);
    return ERROR_SUCCESS;
  }
  LONG QueryDWORDValue(LPCSTR pszValueName, DWORD& dwValue) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    LONG result = RegQueryValueExA(m_hKey, pszValueName, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &bytes);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_DWORD || bytes != sizeof(value)) return ERROR_INVALID_DATA;
    dwValue = value;
    return ERROR_SUCCESS;
  }
  LONG DeleteValue(LPCSTR lpszValue) { return RegDeleteValueA(m_hKey, lpszValue); }
  LONG DeleteSubKey(LPCSTR lpszSubKey) { return RegDeleteKeyA(m_hKey, lpszSubKey); }
  LONG RecurseDeleteKey(LPCSTR lpszKey) { return RegDeleteTreeA(m_hKey, lpszKey); }

  HKEY m_hKey = nullptr;
};

// ---------------------------------------------------------------------------------------
// The module: object map, lock count, registration.

struct _ATL_OBJMAP_ENTRY;
// A replacement for registration scripts: %szKey% becomes szData.
struct _ATL_REGMAP_ENTRY {
  LPCSTR szKey;
  LPCSTR szData;
};

class CComModule {
 public:
  // Run when the module is loaded (see DECLARE_DLL_MAIN): the object map, and the type
  // library with its description ("Touchpoint 1.0 Type Library") and version. A null
  // hInstance means "the module that contains this object".
  HRESULT Init(_ATL_OBJMAP_ENTRY* p, HINSTANCE h, const GUID* plibid = nullptr,
               LPCSTR typeLibDescription = nullptr, WORD wMajor = 1, WORD wMinor = 0,
               const auralink::platform::TypeLibraryInterface* typeLibInterfaces = nullptr);
  void Term();

  // Every live object and every LockServer(TRUE) counts here.
  LONG Lock() { return InterlockedIncrement(&m_nLockCnt); }
  LONG Unlock() { return InterlockedDecrement(&m_nLockCnt); }
  LONG GetLockCount() { return __atomic_load_n(&m_nLockCnt, __ATOMIC_SEQ_CST); }

  HINSTANCE GetModuleInstance() const { return m_hInst; }
  // The file of the module that defines this object (never the program's, unless the
  // object is defined by the program itself).
  std::string GetModuleFileName() const;

  // A new class factory for a creatable class of the object map.
  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

  // Applies each class's registration script (all classes, or the one given) and, when
  // asked, registers the type library.
  HRESULT RegisterServer(BOOL bRegTypeLib = FALSE, const CLSID* pCLSID = nullptr);
  HRESULT UnregisterServer(BOOL bUnRegTypeLib, const CLSID* pCLSID = nullptr);
  HRESULT RegisterTypeLib();
  HRESULT UnRegisterTypeLib();

  // Registers (bRegister) or unregisters a class's script. The replacements are MODULE
  // (this module's file), CLSID (the class's, when not GUID_NULL), LIBID (when the module
  // has a type library) and those given in pMapEntries (ending with a null key).
  HRESULT UpdateRegistryFromScript(LPCSTR script, BOOL bRegister, REFCLSID clsid = GUID_NULL,
                                   const _ATL_REGMAP_ENTRY* pMapEntries = nullptr);

  // The four entry points of an in-process server.
  HRESULT DllCanUnloadNow() { return GetLockCount() == 0 ? S_OK : S_FALSE; }
  HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) { return GetClassObject(rclsid, riid, ppv); }
  HRESULT DllRegisterServer(BOOL bRegTypeLib = TRUE) { return RegisterServer(bRegTypeLib); }
  HRESULT DllUnregisterServer(BOOL bUnRegTypeLib = TRUE) { return UnregisterServer(bUnRegTypeLib); }

  _ATL_OBJMAP_ENTRY* m_pObjMap = nullptr;
  HINSTANCE m_hInst = nullptr;
  const GUID* m_plibid = nullptr;
  LPCSTR m_typeLibDescription = nullptr;
  WORD m_wMajor = 1;
  WORD m_wMinor = 0;
  const auralink::platform::TypeLibraryInterface* m_typeLibInterfaces = nullptr;
  LONG m_nLockCnt = 0;
};

}  // namespace ATL

// Each module defines its own `CComModule _Module;`. Hidden: a module binds to its own,
// never to a same-named object of the program or of another module.
#ifdef _WIN32
extern ATL::CComModule _Module;  // a DLL's symbols are its own unless exported
#else
extern ATL::CComModule _Module __attribute__((visibility("hidden")));
#endif

#ifndef _ATL_NO_AUTOMATIC_NAMESPACE
using namespace ATL;
#endif
