#include <gtest/gtest.h>
#include <guiddef.h>
#include <auralink/platform/guid_text.h>

using auralink::platform::GuidFromString;
using auralink::platform::GuidToString;

DEFINE_GUID(kSample, 0x0A1B2C3D, 0x4E5F, 0x6071, 0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9);

TEST(GuidStrings, FormatsUpperCaseWithAndWithoutBraces) {
  EXPECT_EQ(GuidToString(kSample), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  EXPECT_EQ(GuidToString(kSample, false), "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
}

TEST(GuidStrings, ParsesBothFormsAndEitherCase) {
  GUID g{};
  ASSERT_TRUE(GuidFromString("{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", g));
  EXPECT_EQ(g, kSample);
  GUID h{};
  ASSERT_TRUE(GuidFromString("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", h));
  EXPECT_EQ(h, kSample);
}

TEST(GuidStrings, RefusesMalformedTextAndLeavesTargetAlone) {
  GUID g = kSample;
  for (const char* bad : {"", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FZ",
                          "0A1B2C3D+4E5F-6071-8293-A4B5C6D7E8F9", "(0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9)",
                          "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9 "}) {
    EXPECT_FALSE(GuidFromString(bad, g)) << bad;
  }
  EXPECT_EQ(g, kSample);
}

TEST(GuidStrings, OrderingIsStrictAndConsistentWithEquality) {
  GUID a = kSample, b = kSample;
  b.Data4[7]++;
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_FALSE(a < a);
  EXPECT_NE(a, b);
}
