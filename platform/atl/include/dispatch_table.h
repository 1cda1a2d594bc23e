// In place of a type library: each dual interface has a small table that names its own
// methods in slot order. The dispatch identifier of a method is its index in the table
// plus one, so GetIDsOfNames and Invoke can serve IDispatch for any dual interface.
//
// A table entry is built from the interface method itself:
//
//   inline constexpr DispatchMember kListeningMembers[] = {
//       {L"Initialize", &InvokeMember<&IListening::Initialize>}, ...};
//   inline constexpr DispatchTable kListeningDispatch = {&IID_IListening, kListeningMembers, 4};
//
// InvokeMember deduces the method's parameter types and unpacks DISPPARAMS for them.
#pragma once
#include <cstddef>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>

#include <windows.h>
#include <oleauto.h>

#ifndef DISP_E_NONAMEDARGS
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007)
#endif

namespace auralink::platform {

// Unpacks the DISPPARAMS (arguments in reverse order, VT_BYREF for out parameters),
// calls the method on the object and answers the method's HRESULT.
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

// IDispatch::GetIDsOfNames served from a table: names compare case-insensitively; the
// first name is the member, any further names (parameters) are unknown. Unknown names get
// DISPID_UNKNOWN and the answer DISP_E_UNKNOWNNAME.
HRESULT DispatchGetIDsOfNames(const DispatchTable& table, REFIID riid, LPOLESTR* names, UINT count,
                              DISPID* ids);
// IDispatch::Invoke served from a table: DISP_E_MEMBERNOTFOUND for an identifier that is
// not in it (or a property put), otherwise whatever the member's invoker answers.
HRESULT DispatchInvoke(const DispatchTable& table, IDispatch* self, DISPID id, REFIID riid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, UINT* argErr);

namespace dispatch_detail {

// The variant that actually holds an argument: a VT_BYREF|VT_VARIANT argument refers to it.
inline VARIANT* Referenced(VARIANT* arg) {
  if (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) return arg->pvarVal;
  return arg;
}

// Reads an integer argument given as VT_I4 or VT_I2, by value or by reference.
inline bool ReadInteger(VARIANT* arg, LONG& value) {
  switch (arg->vt) {
    case VT_I4: value = arg->lVal; return true;
    case VT_I2: value = arg->iVal; return true;
    case VT_BYREF | VT_I4: if (!arg->plVal) return false; value = *arg->plVal; return true;
    case VT_BYREF | VT_I2: if (!arg->piVal) return false; value = *arg->piVal; return true;
    default: return false;
  }
}

// One argument converted for a parameter of type T: Load reads the variant, Get gives the
// value to pass, Finish runs after the call (e.g. to fix up a variant the method filled),
// and the destructor drops whatever Load took.
template <class T, class Enable = void>
struct Argument {
  static_assert(sizeof(T) == 0,
                "InvokeMember: unsupported parameter type (LONG, SHORT, BSTR, interface pointer, "
                "SAFEARRAY**, LONG* and BSTR* are supported)");
};

template <>
struct Argument<LONG> {
  LONG value = 0;
  HRESULT Load(VARIANT* arg) { return ReadInteger(Referenced(arg), value) ? S_OK : DISP_E_TYPEMISMATCH; }
  LONG Get() const { return value; }
  void Finish() {}
};

template <>
struct Argument<SHORT> {
  SHORT value = 0;
  HRESULT Load(VARIANT* arg) {
    LONG wide = 0;
    if (!ReadInteger(Referenced(arg), wide)) return DISP_E_TYPEMISMATCH;
    if (wide < std::numeric_limits<SHORT>::min() || wide > std::numeric_limits<SHORT>::max())
      return DISP_E_OVERFLOW;
    value = static_cast<SHORT>(wide);
    return S_OK;
  }
  SHORT Get() const { return value; }
  void Finish() {}
};

// An [in] string is borrowed from the caller's variant; an empty variant is a null BSTR.
template <>
struct Argument<BSTR> {
  BSTR value = nullptr;
  HRESULT Load(VARIANT* arg) {
    arg = Referenced(arg);
    switch (arg->vt) {
      case VT_BSTR: value = arg->bstrVal; return S_OK;
      case VT_BYREF | VT_BSTR: value = arg->pbstrVal ? *arg->pbstrVal : nullptr; return S_OK;
      case VT_EMPTY: value = nullptr; return S_OK;
      default: return DISP_E_TYPEMISMATCH;
    }
  }
  BSTR Get() const { return value; }
  void Finish() {}
};

// An [out] or [in,out] count must come by reference.
template <>
struct Argument<LONG*> {
  LONG* value = nullptr;
  HRESULT Load(VARIANT* arg) {
    if (arg->vt == (VT_BYREF | VT_I4)) {
      value = arg->plVal;
    } else if (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) {
      VARIANT* target = arg->pvarVal;
      if (target->vt == VT_EMPTY) {
        target->vt = VT_I4;
        target->lVal = 0;
      }
      if (target->vt != VT_I4) return DISP_E_TYPEMISMATCH;
      value = &target->lVal;
    }
    return value ? S_OK : DISP_E_TYPEMISMATCH;
  }
  LONG* Get() const { return value; }
  void Finish() {}
};

// An [out] or [in,out] string: the method frees what was there and stores a new one.
template <>
struct Argument<BSTR*> {
  BSTR* value = nullptr;
  HRESULT Load(VARIANT* arg) {
    if (arg->vt == (VT_BYREF | VT_BSTR)) {
      value = arg->pbstrVal;
    } else if (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) {
      VARIANT* target = arg->pvarVal;
      if (target->vt == VT_EMPTY) {
        target->vt = VT_BSTR;
        target->bstrVal = nullptr;
      }
      if (target->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
      value = &target->bstrVal;
    }
    return value ? S_OK : DISP_E_TYPEMISMATCH;
  }
  BSTR* Get() const { return value; }
  void Finish() {}
};

// A SAFEARRAY** parameter serves [in], [out] and [in,out] arrays alike. By reference the
// method works on the caller's pointer; by value on the variant's own; an empty variant
// gets a pointer of our own, and an array the method leaves there is destroyed (the caller
// could not receive it). A variant referred to by VT_BYREF|VT_VARIANT takes the array the
// method returns with its element type.
template <>
struct Argument<SAFEARRAY**> {
  SAFEARRAY** value = nullptr;
  SAFEARRAY* local = nullptr;
  VARIANT* filled = nullptr;
  Argument() = default;
  Argument(const Argument&) = delete;
  Argument& operator=(const Argument&) = delete;
  ~Argument() {
    if (local) SafeArrayDestroy(local);
  }
  HRESULT Load(VARIANT* arg) {
    if ((arg->vt & (VT_BYREF | VT_ARRAY)) == (VT_BYREF | VT_ARRAY)) {
      value = arg->pparray;
    } else if (arg->vt & VT_ARRAY) {
      value = &arg->parray;
    } else if (arg->vt == VT_EMPTY) {
      value = &local;
    } else if (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) {
      VARIANT* target = arg->pvarVal;
      if (target->vt == VT_EMPTY) {
        target->parray = nullptr;
        filled = target;
      } else if (!(target->vt & VT_ARRAY) || (target->vt & VT_BYREF)) {
        return DISP_E_TYPEMISMATCH;
      }
      value = &target->parray;
    }
    return value ? S_OK : DISP_E_TYPEMISMATCH;
  }
  SAFEARRAY** Get() const { return value; }
  void Finish() {
    if (!filled || !filled->parray) return;
    VARTYPE elementType = VT_VARIANT;
    SafeArrayGetVartype(filled->parray, &elementType);
    filled->vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
  }
};

// An interface pointer is borrowed from a VT_UNKNOWN or VT_DISPATCH argument and asked for
// the parameter's own interface; the reference taken for that is dropped after the call.
template <class I>
struct Argument<I*, std::enable_if_t<std::is_base_of_v<IUnknown, I>>> {
  I* value = nullptr;
  Argument() = default;
  Argument(const Argument&) = delete;
  Argument& operator=(const Argument&) = delete;
  ~Argument() {
    if (value) value->Release();
  }
  HRESULT Load(VARIANT* arg) {
    arg = Referenced(arg);
    IUnknown* given = nullptr;
    switch (arg->vt) {
      case VT_UNKNOWN: given = arg->punkVal; break;
      case VT_DISPATCH: given = arg->pdispVal; break;
      case VT_BYREF | VT_UNKNOWN: given = arg->byref ? *static_cast<IUnknown**>(arg->byref) : nullptr; break;
      case VT_BYREF | VT_DISPATCH: given = arg->byref ? *static_cast<IDispatch**>(arg->byref) : nullptr; break;
      case VT_EMPTY: return S_OK;
      default: return DISP_E_TYPEMISMATCH;
    }
    if (!given) return S_OK;
    void* wanted = nullptr;
    if (FAILED(given->QueryInterface(__uuidof(I), &wanted)) || !wanted) return DISP_E_TYPEMISMATCH;
    value = static_cast<I*>(wanted);
    return S_OK;
  }
  I* Get() const { return value; }
  void Finish() {}
};

template <class Method>
struct MethodTraits {
  static_assert(sizeof(Method) == 0, "InvokeMember needs a pointer to an interface method returning HRESULT");
};

template <class Interface, class... Params>
struct MethodTraits<HRESULT (STDMETHODCALLTYPE Interface::*)(Params...)> {
  static_assert(std::is_base_of_v<IDispatch, Interface>, "InvokeMember serves methods of dual interfaces");
  static constexpr size_t kArity = sizeof...(Params);

  template <auto Method, size_t... Index>
  static HRESULT Call(IDispatch* self, DISPPARAMS* params, UINT* argErr, std::index_sequence<Index...>) {
    constexpr UINT kCount = kArity;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != kCount) return DISP_E_BADPARAMCOUNT;
    std::tuple<Argument<Params>...> arguments;
    HRESULT hr = S_OK;
    // Parameter i is rgvarg[count - 1 - i]: Windows passes the arguments last first.
    auto load = [&](auto& argument, UINT position) {
      if (FAILED(hr)) return;
      hr = argument.Load(&params->rgvarg[kCount - 1 - position]);
      if (FAILED(hr) && argErr) *argErr = kCount - 1 - position;
    };
    (load(std::get<Index>(arguments), static_cast<UINT>(Index)), ...);
    (void)load;
    if (FAILED(hr)) return hr;
    hr = (static_cast<Interface*>(self)->*Method)(std::get<Index>(arguments).Get()...);
    (std::get<Index>(arguments).Finish(), ...);
    return hr;
  }
};

}  // namespace dispatch_detail

// Calls `Method` (a pointer to a method of a dual interface) on `self` with the arguments
// of `params`. The count must match (DISP_E_BADPARAMCOUNT); an argument of the wrong type
// answers DISP_E_TYPEMISMATCH with its index in rgvarg behind argErr. The methods have no
// return value, so `result` is left as the caller gave it.
template <auto Method>
HRESULT InvokeMember(IDispatch* self, DISPPARAMS* params, VARIANT* result, UINT* argErr) {
  (void)result;
  if (!self || !params) return E_INVALIDARG;
  using Traits = dispatch_detail::MethodTraits<decltype(Method)>;
  return Traits::template Call<Method>(self, params, argErr, std::make_index_sequence<Traits::kArity>{});
}

}  // namespace auralink::platform
