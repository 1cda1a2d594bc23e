// Payload arrays: one-dimensional SAFEARRAYs of VARIANT with lower bound 0. An operation
// array holds VT_I4 codes; an object array (streams) and an identifier array hold VT_BSTR
// texts; element i of each belongs to the same item.
//
// Ownership: whoever returns an array creates it and the receiver destroys it
// (SafeArrayDestroy, or a PayloadArray that owns it). Put copies the value into the array;
// Get copies it out, so the array keeps its own copy either way.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

namespace auralink {

// A new array of `count` empty VARIANTs (0 gives a valid empty array); null for a negative
// count or when memory runs out.
SAFEARRAY* CreatePayloadArray(LONG count);

// Number of elements of a one-dimensional array; 0 for null or a malformed array.
LONG PayloadElementCount(SAFEARRAY* array);

// Element setters: VT_I4 for operations, VT_BSTR for streams and identifiers.
HRESULT PutOperationElement(SAFEARRAY* array, LONG index, LONG operation);
HRESULT PutStringElement(SAFEARRAY* array, LONG index, const char* text);  // null stores ""
HRESULT PutBstrElement(SAFEARRAY* array, LONG index, const OLECHAR* text);  // null stores ""

// Element getters. Each fails with DISP_E_TYPEMISMATCH when the element has another type,
// DISP_E_BADINDEX outside the bounds, E_INVALIDARG for a null array or destination.
HRESULT GetOperationElement(SAFEARRAY* array, LONG index, LONG* operation);
HRESULT GetStringElement(SAFEARRAY* array, LONG index, std::string* text);
// A new BSTR copy of the element; the caller frees it with SysFreeString.
HRESULT GetBstrElement(SAFEARRAY* array, LONG index, BSTR* text);

// Owns one payload array and destroys it when it goes. Receive() hands out the address for
// an out-parameter (destroying any array held before).
class PayloadArray {
 public:
  PayloadArray() = default;
  explicit PayloadArray(SAFEARRAY* array) : array_(array) {}
  ~PayloadArray() { Reset(); }
  PayloadArray(PayloadArray&& other) noexcept : array_(other.Detach()) {}
  PayloadArray& operator=(PayloadArray&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  PayloadArray(const PayloadArray&) = delete;
  PayloadArray& operator=(const PayloadArray&) = delete;

  SAFEARRAY* Get() const { return array_; }
  SAFEARRAY** Receive() {
    Reset();
    return &array_;
  }
  SAFEARRAY* Detach() {
    SAFEARRAY* array = array_;
    array_ = nullptr;
    return array;
  }
  void Reset(SAFEARRAY* array = nullptr) {
    if (array_ && array_ != array) SafeArrayDestroy(array_);
    array_ = array;
  }
  LONG Count() const { return PayloadElementCount(array_); }
  explicit operator bool() const { return array_ != nullptr; }

 private:
  SAFEARRAY* array_ = nullptr;
};

}  // namespace auralink
