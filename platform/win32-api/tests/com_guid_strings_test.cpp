#include <gtest/gtest.h>
#include <objbase.h>

#include "com_test_helpers.h"
#include "test_sandbox.h"

namespace {

DEFINE_GUID(kSample, 0x0A1B2C3D, 0x4E5F, 0x6071, 0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9);
constexpr const wchar_t* kSampleText = L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

TEST(ComGuidStrings, StringFromGuidWritesTheBracedUpperCaseForm) {
  wchar_t text[39];
  EXPECT_EQ(StringFromGUID2(kSample, text, 39), 39);
  EXPECT_STREQ(text, kSampleText);
  EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);

  LPOLESTR allocated = nullptr;
  ASSERT_EQ(StringFromCLSID(kSample, &allocated), S_OK);
  EXPECT_STREQ(allocated, kSampleText);
  CoTaskMemFree(allocated);
}

TEST(ComGuidStrings, ParsesOnlyTheBracedFormAndLeavesBadTextAlone) {
  CLSID clsid = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(L"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", &clsid), S_OK);
  EXPECT_EQ(clsid, kSample);
  IID iid = GUID_NULL;
  ASSERT_EQ(IIDFromString(kSampleText, &iid), S_OK);
  EXPECT_EQ(iid, kSample);

  for (const wchar_t* bad : {L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FZ}",
                             L"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9} "}) {
    IID untouched = kSample;
    EXPECT_EQ(IIDFromString(bad, &untouched), CO_E_CLASSSTRING) << bad;
    EXPECT_EQ(untouched, kSample);
  }
  EXPECT_EQ(CLSIDFromString(L"{not a guid}", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
  EXPECT_EQ(clsid, GUID_NULL);
}

TEST(ComGuidStrings, ProgIdsResolveThroughTheirClsidKey) {
  auralink::testing::TestSandbox sandbox;
  auralink::testing::SetDefaultString(HKEY_CLASSES_ROOT, "Sample.Thing\\CLSID",
                                      "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  auralink::testing::SetDefaultString(HKEY_CLASSES_ROOT, "Broken.Thing\\CLSID", "not a guid");

  CLSID clsid = GUID_NULL;
  ASSERT_EQ(CLSIDFromProgID(L"Sample.Thing", &clsid), S_OK);
  EXPECT_EQ(clsid, kSample);
  clsid = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(L"Sample.Thing", &clsid), S_OK);  // a ProgID is accepted too
  EXPECT_EQ(clsid, kSample);

  EXPECT_EQ(CLSIDFromProgID(L"Missing.Thing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(L"Broken.Thing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(L"Missing.Thing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
}

}  // namespace
