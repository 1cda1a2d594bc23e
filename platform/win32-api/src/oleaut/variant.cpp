// VARIANT ownership (init, clear, deep copy, dereferencing copy) and the type conversions
// that the dispatch layer needs: among the numeric types, booleans and decimal text.
#include <oleauto.h>

#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <auralink/platform/text.h>

namespace {

bool IsKnownBaseType(VARTYPE base) {
  switch (base) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// A plain VT_VARIANT only exists behind VT_BYREF or VT_ARRAY; EMPTY and NULL never do.
bool IsValidVartype(VARTYPE vt) {
  VARTYPE base = vt & VT_TYPEMASK;
  VARTYPE modifiers = vt & ~VT_TYPEMASK;
  if ((modifiers & ~(VT_ARRAY | VT_BYREF)) || !IsKnownBaseType(base)) return false;
  if (modifiers == 0) return base != VT_VARIANT;
  return base != VT_EMPTY && base != VT_NULL;
}

// No value has a plain VT_VARIANT, yet Windows clears and copies one as holding nothing.
bool IsClearableVartype(VARTYPE vt) { return vt == VT_VARIANT || IsValidVartype(vt); }

bool IsInterface(VARTYPE vt) { return vt == VT_UNKNOWN || vt == VT_DISPATCH; }

// Bytes that a VT_BYREF variant of this base type points at.
size_t PointeeSize(VARTYPE base) {
  if (base & VT_ARRAY) return sizeof(SAFEARRAY*);
  switch (base) {
    case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_R8: return 8;
    case VT_BSTR: return sizeof(BSTR);
    default: return sizeof(IUnknown*);
  }
}

// ---- Conversion ------------------------------------------------------------------------

struct Number {
  bool isReal = false;
  int64_t integer = 0;
  double real = 0;
  double AsReal() const { return isReal ? real : static_cast<double>(integer); }
};

struct IntegerRange {
  int64_t min;
  int64_t max;
};

bool IntegerRangeOf(VARTYPE vt, IntegerRange& range) {
  switch (vt) {
    case VT_UI1: range = {0, UINT8_MAX}; return true;
    case VT_I2: range = {INT16_MIN, INT16_MAX}; return true;
    case VT_UI2: range = {0, UINT16_MAX}; return true;
    case VT_I4: case VT_INT: range = {INT32_MIN, INT32_MAX}; return true;
    case VT_UI4: case VT_UINT: range = {0, UINT32_MAX}; return true;
    default: return false;
  }
}

// Automation rounds reals to integers half to even ("banker's rounding").
double RoundHalfEven(double value) {
  double floor = std::floor(value);
  double fraction = value - floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0)) return floor + 1;
  return floor;
}

bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// The BSTR's text without surrounding white space, as ASCII; false if anything else is in it.
bool TrimmedAscii(BSTR text, std::string& ascii) {
  const wchar_t* begin = text;
  const wchar_t* end = text + SysStringLen(text);
  while (begin < end && IsSpace(*begin)) ++begin;
  while (end > begin && IsSpace(end[-1])) --end;
  ascii.clear();
  for (const wchar_t* p = begin; p < end; ++p) {
    if (*p <= 0 || *p >= 0x80) return false;
    ascii.push_back(static_cast<char>(*p));
  }
  return true;
}

// Decimal text: an integer, or a real in plain or exponent form, with an optional sign.
HRESULT ParseNumber(BSTR text, Number& number) {
  std::string ascii;
  if (!TrimmedAscii(text, ascii) || ascii.empty()) return DISP_E_TYPEMISMATCH;
  const char* begin = ascii.data();
  const char* end = begin + ascii.size();
  if (*begin == '+' && end - begin > 1 && begin[1] != '-') ++begin;
  const char* digits = begin + (*begin == '-' ? 1 : 0);
  if (digits == end || !(std::isdigit(static_cast<unsigned char>(*digits)) || *digits == '.'))
    return DISP_E_TYPEMISMATCH;
  auto [intEnd, intError] = std::from_chars(begin, end, number.integer);
  if (intError == std::errc() && intEnd == end) return S_OK;
  auto [realEnd, realError] = std::from_chars(begin, end, number.real);
  if (realEnd != end) return DISP_E_TYPEMISMATCH;
  if (realError == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (realError != std::errc()) return DISP_E_TYPEMISMATCH;
  number.isReal = true;
  return S_OK;
}

HRESULT ReadNumber(const VARIANT& v, Number& number) {
  switch (v.vt) {
    case VT_EMPTY: number.integer = 0; return S_OK;
    case VT_UI1: number.integer = v.bVal; return S_OK;
    case VT_I2: number.integer = v.iVal; return S_OK;
    case VT_BOOL: number.integer = v.boolVal; return S_OK;
    case VT_UI2: number.integer = v.uiVal; return S_OK;
    case VT_I4: number.integer = v.lVal; return S_OK;
    case VT_INT: number.integer = v.intVal; return S_OK;
    case VT_UI4: number.integer = v.ulVal; return S_OK;
    case VT_UINT: number.integer = v.uintVal; return S_OK;
    case VT_R4: number.isReal = true; number.real = v.fltVal; return S_OK;
    case VT_R8: number.isReal = true; number.real = v.dblVal; return S_OK;
    case VT_BSTR: return ParseNumber(v.bstrVal, number);
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT WriteNumber(const Number& number, VARTYPE vt, VARIANT& out) {
  if (vt == VT_R8) {
    out.dblVal = number.AsReal();
  } else if (vt == VT_R4) {
    double value = number.AsReal();
    if (std::isfinite(value) && std::fabs(value) > FLT_MAX) return DISP_E_OVERFLOW;
    out.fltVal = static_cast<float>(value);
  } else if (vt == VT_BOOL) {
    out.boolVal = number.AsReal() != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    IntegerRange range{};
    if (!IntegerRangeOf(vt, range)) return DISP_E_TYPEMISMATCH;
    int64_t value = number.integer;
    if (number.isReal) {
      double rounded = RoundHalfEven(number.real);
      if (!(rounded >= static_cast<double>(range.min) && rounded <= static_cast<double>(range.max)))
        return DISP_E_OVERFLOW;
      value = static_cast<int64_t>(rounded);
    }
    if (value < range.min || value > range.max) return DISP_E_OVERFLOW;
    switch (vt) {
      case VT_UI1: out.bVal = static_cast<BYTE>(value); break;
      case VT_I2: out.iVal = static_cast<SHORT>(value); break;
      case VT_UI2: out.uiVal = static_cast<USHORT>(value); break;
      case VT_I4: out.lVal = static_cast<LONG>(value); break;
      case VT_INT: out.intVal = static_cast<INT>(value); break;
      case VT_UI4: out.ulVal = static_cast<ULONG>(value); break;
      default: out.uintVal = static_cast<UINT>(value); break;
    }
  }
  out.vt = vt;
  return S_OK;
}

// Shortest text that keeps the type's significant digits, exponent in upper case ("1E+20").
std::string FormatReal(double value, int precision) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
  std::string text(buffer, result.ptr);
  for (char& c : text)
    if (c == 'e') c = 'E';
  return text;
}

HRESULT ToText(const VARIANT& v, USHORT flags, VARIANT& out) {
  std::string text;
  if (v.vt == VT_BOOL && (flags & VARIANT_ALPHABOOL)) {
    text = v.boolVal ? "True" : "False";
  } else if (v.vt == VT_R4) {
    text = FormatReal(v.fltVal, 7);
  } else if (v.vt == VT_R8) {
    text = FormatReal(v.dblVal, 15);
  } else if (v.vt != VT_EMPTY) {
    Number number;
    HRESULT hr = ReadNumber(v, number);
    if (FAILED(hr)) return hr;
    text = std::to_string(number.integer);
  }
  out.bstrVal = auralink::platform::AllocBstr(text);
  if (!out.bstrVal) return E_OUTOFMEMORY;
  out.vt = VT_BSTR;
  return S_OK;
}

HRESULT ToBool(const VARIANT& v, VARIANT& out) {
  std::string word;
  if (v.vt == VT_BSTR && TrimmedAscii(v.bstrVal, word)) {
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "true" || word == "false") {
      out.vt = VT_BOOL;
      out.boolVal = word == "true" ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  Number number;
  HRESULT hr = ReadNumber(v, number);
  return FAILED(hr) ? hr : WriteNumber(number, VT_BOOL, out);
}

HRESULT ToInterface(const VARIANT& v, VARTYPE vt, VARIANT& out) {
  if (!IsInterface(v.vt)) return DISP_E_TYPEMISMATCH;
  void* converted = nullptr;
  if (v.punkVal) {
    HRESULT hr = v.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &converted);
    if (FAILED(hr)) return hr;
  }
  out.vt = vt;
  out.punkVal = static_cast<IUnknown*>(converted);
  return S_OK;
}

// Converts a value that is neither by reference nor already of the wanted type.
HRESULT Convert(const VARIANT& v, USHORT flags, VARTYPE vt, VARIANT& out) {
  VARTYPE from = v.vt;
  if ((from | vt) & VT_ARRAY) return DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY) return from == VT_NULL ? DISP_E_TYPEMISMATCH : S_OK;
  if (vt == VT_NULL) {
    if (from != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    out.vt = VT_NULL;
    return S_OK;
  }
  if (from == VT_NULL || from == VT_ERROR || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
  if (IsInterface(vt)) return ToInterface(v, vt, out);
  if (IsInterface(from)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_BSTR) return ToText(v, flags, out);
  if (vt == VT_BOOL) return ToBool(v, out);
  Number number;
  HRESULT hr = ReadNumber(v, number);
  return FAILED(hr) ? hr : WriteNumber(number, vt, out);
}

}  // namespace

extern "C" {

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg) pvarg->vt = VT_EMPTY;
}

// A locked array stays in the variant (DISP_E_ARRAYISLOCKED) so that nothing leaks; a
// by-reference variant owns nothing.
HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!IsClearableVartype(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (!(pvarg->vt & VT_BYREF)) {
    if (pvarg->vt & VT_ARRAY) {
      HRESULT hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr)) return hr;
    } else if (pvarg->vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (IsInterface(pvarg->vt) && pvarg->punkVal) {
      pvarg->punkVal->Release();
    }
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

// On failure the destination is left empty, never sharing the source's resources.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (!IsClearableVartype(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  VARIANT copy = *pvargSrc;
  if (!(copy.vt & VT_BYREF)) {
    if (copy.vt & VT_ARRAY) {
      hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
    } else if (copy.vt == VT_BSTR && pvargSrc->bstrVal) {
      BSTR source = pvargSrc->bstrVal;
      copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
      if (!copy.bstrVal) hr = E_OUTOFMEMORY;
    } else if (IsInterface(copy.vt) && copy.punkVal) {
      copy.punkVal->AddRef();
    }
  }
  if (FAILED(hr)) return hr;
  *pvargDest = copy;
  return S_OK;
}

// Like VariantCopy, but a by-reference source yields an owned copy of what it points at.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (!pvarDest || !pvargSrc) return E_INVALIDARG;
  if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
  if (!IsValidVartype(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (!pvargSrc->byref) return E_INVALIDARG;
  VARTYPE base = pvargSrc->vt & ~VT_BYREF;
  VARIANT view;  // borrows the pointee; VariantCopy below makes the owned copy
  VariantInit(&view);
  if (base == VT_VARIANT) {
    view = *pvargSrc->pvarVal;
    if (view.vt & VT_BYREF) return E_INVALIDARG;
  } else {
    view.vt = base;
    std::memcpy(&view.llVal, pvargSrc->byref, PointeeSize(base));
  }
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = VariantCopy(&value, &view);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&value);
    return hr;
  }
  *pvarDest = value;
  return S_OK;
}

// The source may be the destination; on failure the destination is untouched.
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (!IsValidVartype(pvarSrc->vt) || !IsValidVartype(vt)) return DISP_E_BADVARTYPE;
  if (vt & VT_BYREF) return DISP_E_TYPEMISMATCH;
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = VariantCopyInd(&value, pvarSrc);
  if (FAILED(hr)) return hr;
  VARIANT converted;
  VariantInit(&converted);
  if (value.vt == vt) {
    converted = value;
    value.vt = VT_EMPTY;
  } else {
    hr = Convert(value, wFlags, vt, converted);
  }
  VariantClear(&value);
  if (SUCCEEDED(hr)) hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&converted);
    return hr;
  }
  *pvargDest = converted;
  return S_OK;
}

}  // extern "C"
