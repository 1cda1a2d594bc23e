#include <auralink/subnet_mask.h>
#include <gtest/gtest.h>

namespace {

TEST(SubnetMask, AcceptsContiguousDottedQuads) {
  for (const char* mask : {"255.0.0.0", "255.255.0.0", "255.255.255.0", "255.255.240.0", "255.255.255.252",
                           "255.255.255.255", "128.0.0.0", "255.254.0.0", "255.255.255.000", "255.255.255.00"})
    EXPECT_NE(IsValidSubnetMask(mask), 0) << mask;
}

TEST(SubnetMask, RefusesEverythingElse) {
  for (const char* mask :
       {"", "0.0.0.0", "255.0.255.0", "255.255.255.1", "254.255.255.0", "0.255.255.255", "256.0.0.0",
        "255.255.255.0256", "255.255.255", "255.255.255.0.0", " 255.255.255.0", "255.255.255.0 ", "255.255.255.0\n",
        "255..255.0", "255.255.255.", ".255.255.255.0", "+255.255.255.0", "255.255.-0.0", "0xFF.0.0.0", "ff.0.0.0",
        "255,255,255,0", "255.255.255.0/24", "mask"})
    EXPECT_EQ(IsValidSubnetMask(mask), 0) << mask;
  EXPECT_EQ(IsValidSubnetMask(nullptr), 0);
}

TEST(SubnetMask, DefaultMasksFollowTheAddressClass) {
  using namespace auralink::model;
  EXPECT_EQ(FormatDottedQuad(DefaultClassMask(*ParseDottedQuad("10.1.2.3"))), "255.0.0.0");
  EXPECT_EQ(FormatDottedQuad(DefaultClassMask(*ParseDottedQuad("127.255.0.1"))), "255.0.0.0");
  EXPECT_EQ(FormatDottedQuad(DefaultClassMask(*ParseDottedQuad("128.0.0.1"))), "255.255.0.0");
  EXPECT_EQ(FormatDottedQuad(DefaultClassMask(*ParseDottedQuad("191.255.9.9"))), "255.255.0.0");
  EXPECT_EQ(FormatDottedQuad(DefaultClassMask(*ParseDottedQuad("192.168.1.7"))), "255.255.255.0");
}

}  // namespace
