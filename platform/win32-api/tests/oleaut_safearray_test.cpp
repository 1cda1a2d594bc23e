#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <string>

#ifndef FADF_CREATEVECTOR  // mingw-w64's headers lack it
#define FADF_CREATEVECTOR 0x2000
#endif

namespace {

std::wstring Text(BSTR b) { return std::wstring(b ? b : L"", SysStringLen(b)); }

// A real BSTR for the length of one statement: array elements are copied by their prefix.
struct ScopedBstr {
  explicit ScopedBstr(const wchar_t* text) : value(SysAllocString(text)) {}
  ~ScopedBstr() { SysFreeString(value); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  operator BSTR() const { return value; }
  BSTR value;
};

TEST(SafeArrayShape, RecordsTypeFeaturesAndBoundsAsWindowsDoes) {
  struct Case {
    VARTYPE vt;
    USHORT features;
    UINT elementSize;
  } cases[] = {
      {VT_VARIANT, FADF_HAVEVARTYPE | FADF_VARIANT, sizeof(VARIANT)},
      {VT_BSTR, FADF_HAVEVARTYPE | FADF_BSTR, sizeof(BSTR)},
      {VT_I4, FADF_HAVEVARTYPE, 4},
      {VT_I2, FADF_HAVEVARTYPE, 2},
      {VT_UI1, FADF_HAVEVARTYPE, 1},
      {VT_UNKNOWN, FADF_HAVEIID | FADF_UNKNOWN, sizeof(IUnknown*)},
      {VT_DISPATCH, FADF_HAVEIID | FADF_DISPATCH, sizeof(IDispatch*)},
  };
  for (const Case& c : cases) {
    SAFEARRAY* psa = SafeArrayCreateVector(c.vt, 5, 3);
    ASSERT_NE(psa, nullptr) << c.vt;
    EXPECT_EQ(psa->fFeatures, c.features | FADF_CREATEVECTOR) << c.vt;
    EXPECT_EQ(SafeArrayGetElemsize(psa), c.elementSize) << c.vt;
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
    LONG lower = 0, upper = 0;
    EXPECT_TRUE(SafeArrayGetLBound(psa, 1, &lower) == S_OK && lower == 5);
    EXPECT_TRUE(SafeArrayGetUBound(psa, 1, &upper) == S_OK && upper == 7);
    EXPECT_EQ(SafeArrayGetDim(psa), 1u);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  }
  SAFEARRAYBOUND bound{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
}

TEST(SafeArrayShape, ZeroElementArraysAreValidEverywhere) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  ASSERT_NE(psa, nullptr);
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  LONG index = 0;
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(SafeArrayGetElement(psa, &index, &v), DISP_E_BADINDEX);
  SAFEARRAY* copy = nullptr;
  EXPECT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayShape, MultipleDimensionsIndexLeftmostFirstAndFastest) {
  SAFEARRAYBOUND bounds[] = {{2, 1}, {3, 10}};  // dimension 1: 1..2, dimension 2: 10..12
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(psa, nullptr);
  LONG lower = 0, upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(psa, 2, &upper), S_OK);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 12);
  for (LONG j = 10; j <= 12; ++j)
    for (LONG i = 1; i <= 2; ++i) {
      LONG at[] = {i, j};
      LONG value = i * 100 + j;
      ASSERT_EQ(SafeArrayPutElement(psa, at, &value), S_OK);
    }
  LONG* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(data[0], 110);
  EXPECT_EQ(data[1], 210);
  EXPECT_EQ(data[2], 111);
  EXPECT_EQ(data[5], 212);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  LONG outside[] = {3, 10};
  LONG value = 0;
  EXPECT_EQ(SafeArrayGetElement(psa, outside, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayErrors, BadIndicesDimensionsAndNullsFailCleanly) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 1, 2);
  ASSERT_NE(psa, nullptr);
  LONG value = 7;
  for (LONG bad : {0, 3, -2147483647 - 1, 2147483647}) {
    EXPECT_EQ(SafeArrayPutElement(psa, &bad, &value), DISP_E_BADINDEX) << bad;
    EXPECT_EQ(SafeArrayGetElement(psa, &bad, &value), DISP_E_BADINDEX) << bad;
  }
#ifndef _WIN32
  // Windows does not document its largest array (Wine counts cells in 32 bits: this wraps to none).
  SAFEARRAYBOUND huge[] = {{0x10000, 0}, {0x10000, 0}};  // 2^32 cells
  EXPECT_EQ(SafeArrayCreate(VT_I4, 2, huge), nullptr);
#endif
  LONG bound = 0;
  EXPECT_EQ(SafeArrayGetLBound(psa, 0, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(psa, 2, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, nullptr), E_INVALIDARG);
  LONG index = 1;
  EXPECT_EQ(SafeArrayPutElement(psa, nullptr, &value), E_INVALIDARG);
#ifndef _WIN32
  EXPECT_EQ(SafeArrayPutElement(psa, &index, nullptr), E_INVALIDARG);  // Windows may read through it
#endif
  EXPECT_EQ(SafeArrayGetElement(psa, &index, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);

  EXPECT_EQ(SafeArrayGetElement(nullptr, &index, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  SAFEARRAY* copy = psa;
  EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(SafeArrayCopy(nullptr, nullptr), E_INVALIDARG);
}

TEST(SafeArrayLocks, LockedArraysCannotBeDestroyed) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 1);
  ASSERT_NE(psa, nullptr);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  EXPECT_EQ(data, psa->pvData);
  ASSERT_EQ(SafeArrayLock(psa), S_OK);
  EXPECT_EQ(psa->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  LONG index = 0;  // element access works while locked
  EXPECT_EQ(SafeArrayPutElement(psa, &index, ScopedBstr(L"kept")), S_OK);

  VARIANT holder;
  VariantInit(&holder);
  holder.vt = VT_ARRAY | VT_BSTR;
  holder.parray = psa;
  EXPECT_EQ(VariantClear(&holder), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(holder.parray, psa);  // still owned by the variant, not leaked

  EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
  EXPECT_EQ(VariantClear(&holder), S_OK);
  EXPECT_EQ(holder.vt, VT_EMPTY);
}

TEST(SafeArrayElements, BstrsAreCopiedInAndOut) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 3);
  ASSERT_NE(psa, nullptr);
  LONG index = 0;
  BSTR original = SysAllocStringLen(L"a\0b", 3);
  ASSERT_EQ(SafeArrayPutElement(psa, &index, original), S_OK);
  BSTR* cells = static_cast<BSTR*>(psa->pvData);
  EXPECT_NE(cells[0], original);
  SysFreeString(original);
  EXPECT_EQ(Text(cells[0]), std::wstring(L"a\0b", 3));

  ASSERT_EQ(SafeArrayPutElement(psa, &index, ScopedBstr(L"replaced")), S_OK);  // frees the old slot
  ASSERT_EQ(SafeArrayPutElement(psa, &index, cells[0]), S_OK);  // putting a slot onto itself
  BSTR fetched = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &fetched), S_OK);
  EXPECT_NE(fetched, cells[0]);
  EXPECT_EQ(Text(fetched), L"replaced");
  SysFreeString(fetched);

  index = 1;  // a null BSTR reads back empty
  ASSERT_EQ(SafeArrayPutElement(psa, &index, nullptr), S_OK);
  fetched = SysAllocString(L"x");
  BSTR caller = fetched;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &fetched), S_OK);
  EXPECT_EQ(SysStringLen(fetched), 0u);
#ifndef _WIN32
  EXPECT_EQ(fetched, nullptr);  // Wine stores an empty string instead; null and empty mean the same
#endif
  SysFreeString(fetched);
  SysFreeString(caller);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayElements, VariantsAreDeepCopiedInAndOut) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  ASSERT_NE(psa, nullptr);
  VARIANT item;
  VariantInit(&item);
  item.vt = VT_BSTR;
  item.bstrVal = SysAllocString(L"stream");
  LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(psa, &index, &item), S_OK);
  VARIANT* cells = static_cast<VARIANT*>(psa->pvData);
  EXPECT_EQ(cells[0].vt, VT_BSTR);
  EXPECT_NE(cells[0].bstrVal, item.bstrVal);
  VariantClear(&item);

  item.vt = VT_I4;  // replacing frees the BSTR the slot held
  item.lVal = 13;
  ASSERT_EQ(SafeArrayPutElement(psa, &index, &item), S_OK);
  EXPECT_EQ(cells[0].vt, VT_I4);

  VARIANT fetched;  // written over without clearing, as on Windows
  fetched.vt = 0x7FF;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &fetched), S_OK);
  EXPECT_EQ(fetched.vt, VT_I4);
  EXPECT_EQ(fetched.lVal, 13);

  item.vt = 0x7FF;  // a bad element type is refused and the slot kept
  EXPECT_EQ(SafeArrayPutElement(psa, &index, &item), DISP_E_BADVARTYPE);
  EXPECT_EQ(cells[0].vt, VT_I4);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArrayCopy, DeepCopiesElementsAndKeepsTheType) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 3, 2);
  ASSERT_NE(psa, nullptr);
  VARIANT item;
  VariantInit(&item);
  item.vt = VT_BSTR;
  item.bstrVal = SysAllocString(L"one");
  LONG index = 3;
  ASSERT_EQ(SafeArrayPutElement(psa, &index, &item), S_OK);
  VariantClear(&item);
  ASSERT_EQ(SafeArrayLock(psa), S_OK);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->cLocks, 0u);
  EXPECT_EQ(copy->fFeatures, FADF_HAVEVARTYPE | FADF_VARIANT);  // not made by SafeArrayCreateVector
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, VT_VARIANT);
  LONG lower = 0;
  EXPECT_EQ(SafeArrayGetLBound(copy, 1, &lower), S_OK);
  EXPECT_EQ(lower, 3);
  VARIANT* original = static_cast<VARIANT*>(psa->pvData);
  VARIANT* copied = static_cast<VARIANT*>(copy->pvData);
  EXPECT_NE(copied[0].bstrVal, original[0].bstrVal);
  EXPECT_EQ(Text(copied[0].bstrVal), L"one");
  EXPECT_EQ(copied[1].vt, VT_EMPTY);

  EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}

}  // namespace
