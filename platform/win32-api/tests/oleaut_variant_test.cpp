#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <string>

namespace {

std::wstring Text(BSTR b) { return std::wstring(b ? b : L"", SysStringLen(b)); }

// A variant that clears itself, so failed assertions do not leak under LeakSanitizer.
struct OwnedVariant : VARIANT {
  OwnedVariant() { VariantInit(this); }
  ~OwnedVariant() { VariantClear(this); }
};

VARIANT Bstr(const wchar_t* text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

TEST(VariantOwnership, ClearFreesWhatItOwnsAndByRefOwnsNothing) {
  VARIANT v = Bstr(L"owned");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);

  BSTR outside = SysAllocString(L"outside");
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = &outside;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(Text(outside), L"outside");
  SysFreeString(outside);

  v.vt = VT_ARRAY | VT_I4;
  v.parray = SafeArrayCreateVector(VT_I4, 0, 4);
  EXPECT_EQ(VariantClear(&v), S_OK);
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = nullptr;
  EXPECT_EQ(VariantClear(&v), S_OK);
#ifndef _WIN32
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);  // Windows does not check, it faults
#endif
}

TEST(VariantOwnership, UnknownTypesAreRefusedAndLeftAlone) {
  for (VARTYPE bad :
       {VARTYPE(0x7FF), VARTYPE(VT_ARRAY | VT_EMPTY), VARTYPE(VT_BYREF | VT_NULL), VARTYPE(0x8000 | VT_I4)}) {
    VARIANT v;
    v.vt = bad;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << bad;
    EXPECT_EQ(v.vt, bad);
    OwnedVariant dest;
    EXPECT_EQ(VariantCopy(&dest, &v), DISP_E_BADVARTYPE) << bad;
  }
  // No value has a plain VT_VARIANT, but Windows copies and clears one as holding nothing.
  VARIANT plain;
  plain.vt = VT_VARIANT;
  OwnedVariant dest;
  EXPECT_EQ(VariantCopy(&dest, &plain), S_OK);
  EXPECT_EQ(dest.vt, VT_VARIANT);
  EXPECT_EQ(VariantClear(&plain), S_OK);
  EXPECT_EQ(plain.vt, VT_EMPTY);
}

TEST(VariantCopy, DeepCopiesStringsAndArraysAfterClearingTheDestination) {
  VARIANT source = Bstr(nullptr);
  source.bstrVal = SysAllocStringLen(L"a\0b", 3);
  OwnedVariant dest;
  dest.vt = VT_BSTR;
  dest.bstrVal = SysAllocString(L"overwritten");  // freed by the copy (LeakSanitizer checks)
  ASSERT_EQ(VariantCopy(&dest, &source), S_OK);
  EXPECT_NE(dest.bstrVal, source.bstrVal);
  EXPECT_EQ(Text(dest.bstrVal), std::wstring(L"a\0b", 3));
  VariantClear(&source);
  EXPECT_EQ(Text(dest.bstrVal), std::wstring(L"a\0b", 3));
  EXPECT_EQ(VariantCopy(&dest, &dest), S_OK);

  source.vt = VT_ARRAY | VT_BSTR;
  source.parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  ASSERT_EQ(VariantCopy(&dest, &source), S_OK);
  EXPECT_NE(dest.parray, source.parray);  // element copying is SafeArrayCopy's, tested there
  VariantClear(&source);

  VARIANT nullString = Bstr(nullptr);
  ASSERT_EQ(VariantCopy(&dest, &nullString), S_OK);
  EXPECT_EQ(dest.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(dest.bstrVal), 0u);
#ifndef _WIN32
  EXPECT_EQ(dest.bstrVal, nullptr);  // Wine copies an empty string instead; null and empty mean the same
#endif
}

TEST(VariantCopy, IndirectCopiesDereferenceAndOwnTheResult) {
  BSTR text = SysAllocString(L"pointed at");
  VARIANT ref;
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = &text;
  OwnedVariant plain;
  ASSERT_EQ(VariantCopy(&plain, &ref), S_OK);  // a plain copy keeps the reference
  EXPECT_EQ(plain.vt, VT_BYREF | VT_BSTR);
  ASSERT_EQ(VariantCopyInd(&plain, &ref), S_OK);
  EXPECT_EQ(plain.vt, VT_BSTR);
  EXPECT_NE(plain.bstrVal, text);
  EXPECT_EQ(Text(plain.bstrVal), L"pointed at");
  SysFreeString(text);

  LONG number = 42;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &number;
  ASSERT_EQ(VariantCopyInd(&plain, &ref), S_OK);
  EXPECT_EQ(plain.vt, VT_I4);
  EXPECT_EQ(plain.lVal, 42);

  VARIANT inner = Bstr(L"inner");
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(&plain, &ref), S_OK);
  EXPECT_EQ(Text(plain.bstrVal), L"inner");
  EXPECT_NE(plain.bstrVal, inner.bstrVal);
  VariantClear(&inner);
#ifndef _WIN32
  ref.pvarVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&plain, &ref), E_INVALIDARG);  // Windows does not check, it faults
#endif
}

TEST(VariantChangeType, ValuesBecomeDecimalText) {
  VARIANT values[7];
  values[0].vt = VT_I4, values[0].lVal = -42;
  values[1].vt = VT_I2, values[1].iVal = 7;
  values[2].vt = VT_R8, values[2].dblVal = 0.1;
  values[3].vt = VT_R8, values[3].dblVal = 1e20;
  values[4].vt = VT_BOOL, values[4].boolVal = VARIANT_TRUE;
  values[5] = values[4];
  values[6].vt = VT_EMPTY;
  const wchar_t* expected[] = {L"-42", L"7", L"0.1", L"1E+20", L"-1", L"True", L""};
  for (int i = 0; i < 7; ++i) {
    OwnedVariant result;
    ASSERT_EQ(VariantChangeType(&result, &values[i], i == 5 ? VARIANT_ALPHABOOL : 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(result.bstrVal), expected[i]);
  }
}

TEST(VariantChangeType, TextBecomesNumbersWithRangeChecks) {
  struct Case {
    const wchar_t* text;
    VARTYPE vt;
    HRESULT hr;
    LONG value;
  } cases[] = {
      {L" 123 ", VT_I4, S_OK, 123},        {L"+5", VT_I2, S_OK, 5},
      {L"-32768", VT_I2, S_OK, -32768},    {L"32768", VT_I2, DISP_E_OVERFLOW, 0},
      {L"2.5", VT_I4, S_OK, 2},            {L"3.5", VT_I4, S_OK, 4},
      {L"1e3", VT_I4, S_OK, 1000},         {L"99999999999999999999", VT_I4, DISP_E_OVERFLOW, 0},
      {L"abc", VT_I4, DISP_E_TYPEMISMATCH, 0}, {L"", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {L"12x", VT_I4, DISP_E_TYPEMISMATCH, 0}, {L"inf", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {L"1e999", VT_R8, DISP_E_OVERFLOW, 0},   {L"\u0661", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {L"TRUE", VT_BOOL, S_OK, VARIANT_TRUE},  {L"0", VT_BOOL, S_OK, VARIANT_FALSE},
  };
  for (const Case& c : cases) {
    OwnedVariant source;
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(c.text);
    OwnedVariant result;
    ASSERT_EQ(VariantChangeType(&result, &source, 0, c.vt), c.hr) << c.text;
    if (FAILED(c.hr)) {
      EXPECT_EQ(result.vt, VT_EMPTY) << c.text;
      continue;
    }
    ASSERT_EQ(result.vt, c.vt);
    EXPECT_EQ(c.vt == VT_I4 ? result.lVal : result.iVal, c.value) << c.text;
  }
}

TEST(VariantChangeType, ConvertsInPlaceAndLeavesTheDestinationOnFailure) {
  OwnedVariant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(L"17");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the string is freed
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 17);

  VARIANT big;
  big.vt = VT_I4;
  big.lVal = 70000;
  EXPECT_EQ(VariantChangeType(&v, &big, 0, VT_I2), DISP_E_OVERFLOW);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 17);

  VARIANT null;
  null.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(&v, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&v, &big, 0, 0x7FF), DISP_E_BADVARTYPE);
  VARIANT empty;
  VariantInit(&empty);
  ASSERT_EQ(VariantChangeType(&v, &empty, 0, VT_I4), S_OK);
  EXPECT_EQ(v.lVal, 0);

  LONG pointed = 9;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &pointed;
  ASSERT_EQ(VariantChangeType(&v, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(v.bstrVal), L"9");
}

}  // namespace
