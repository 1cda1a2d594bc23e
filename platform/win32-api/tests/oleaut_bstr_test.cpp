#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

uint32_t PrefixOf(BSTR b) {
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(b) - sizeof prefix, sizeof prefix);
  return prefix;
}

TEST(Bstr, StoresByteLengthBeforeTextAndTerminates) {
  BSTR b = SysAllocString(L"abc");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PrefixOf(b), 3 * sizeof(OLECHAR));
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(SysStringByteLen(b), 3 * sizeof(OLECHAR));
  EXPECT_EQ(b[3], L'\0');
  EXPECT_STREQ(b, L"abc");
  SysFreeString(b);

  BSTR empty = SysAllocString(L"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], L'\0');
  SysFreeString(empty);

  // Code written for Windows spells its wide literals with OLESTR.
  BSTR hub = SysAllocString(OLESTR("Touchpoint.Hub"));
  EXPECT_EQ(std::wstring(hub, SysStringLen(hub)), L"Touchpoint.Hub");
  SysFreeString(hub);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);  // null reads as the empty string
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(Bstr, KeepsEmbeddedZerosAndZeroFillsWithoutSource) {
  const OLECHAR text[] = {L'a', L'\0', L'b', L'\0', L'c'};
  BSTR b = SysAllocStringLen(text, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(std::wstring(b, SysStringLen(b)), std::wstring(text, 5));
  EXPECT_EQ(b[5], L'\0');
  SysFreeString(b);

  BSTR blank = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(SysStringLen(blank), 4u);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(blank[i], L'\0');
  SysFreeString(blank);
}

TEST(Bstr, ByteLengthNeedNotBeWholeCharacters) {
  BSTR b = SysAllocStringByteLen("hello", 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringByteLen(b), 5u);
  EXPECT_EQ(SysStringLen(b), 5 / sizeof(OLECHAR));
  EXPECT_EQ(std::memcmp(b, "hello", 5), 0);
  const char* bytes = reinterpret_cast<const char*>(b);
  for (size_t i = 5; i < 2 * sizeof(OLECHAR); ++i) EXPECT_EQ(bytes[i], 0) << i;
  SysFreeString(b);
  EXPECT_EQ(SysAllocStringLen(nullptr, UINT32_MAX), nullptr);
}

TEST(Bstr, ReAllocReplacesAndMayCopyFromItself) {
  BSTR b = SysAllocString(L"first value");
  ASSERT_TRUE(SysReAllocString(&b, b + 6));
  EXPECT_EQ(std::wstring(b, SysStringLen(b)), L"value");
  ASSERT_TRUE(SysReAllocString(&b, L"x"));
  EXPECT_EQ(SysStringLen(b), 1u);
  ASSERT_TRUE(SysReAllocString(&b, nullptr));
  EXPECT_EQ(b, nullptr);
  EXPECT_FALSE(SysReAllocString(nullptr, L"x"));
}

}  // namespace
