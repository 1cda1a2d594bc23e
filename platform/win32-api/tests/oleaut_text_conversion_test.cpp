#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>
#include <auralink/platform/text.h>

using auralink::platform::AllocBstr;
using auralink::platform::BstrToNarrow;
using auralink::platform::ToNarrow;
using auralink::platform::ToWide;

namespace {

// The helpers' narrow side is the ANSI code page: UTF-8 on Linux, mostly 1252 on Windows.
// Where a check means UTF-8, it converts with CP_UTF8, or holds only when the ANSI code page is UTF-8.
bool AnsiCodePageIsUtf8() { return MultiByteToWideChar(CP_ACP, 0, "\xC3\xBC", 2, nullptr, 0) == 1; }

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  std::wstring wide(text.size(), L'\0');
  const int length = static_cast<int>(text.size());
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), length)));
  return wide;
}

std::string ToUtf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int length = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), needed, nullptr, nullptr);
  return text;
}

const std::string kMixed = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9D\x84\x9E!";  // "Grüße € 𝄞!"
const std::wstring kMixedWide = L"Gr\u00FC\u00DFe \u20AC \U0001D11E!";

TEST(TextConversion, RoundTripsAllEncodingLengthsAndEmbeddedZeros) {
  EXPECT_EQ(FromUtf8(kMixed), kMixedWide);
  EXPECT_EQ(ToUtf8(kMixedWide), kMixed);
  if (AnsiCodePageIsUtf8()) {
    EXPECT_EQ(ToWide(kMixed), kMixedWide);
    EXPECT_EQ(ToNarrow(kMixedWide), kMixed);
  }
  const std::string withZero("a\0b", 3);
  EXPECT_EQ(ToNarrow(ToWide(withZero)), withZero);
  EXPECT_EQ(ToWide(""), L"");
  EXPECT_EQ(ToNarrow(static_cast<const wchar_t*>(nullptr)), "");
  EXPECT_EQ(ToNarrow(L"plain"), "plain");
}

// Long ASCII runs are converted several characters at a time: every other character, well
// or ill formed, must survive at every position inside and at the edges of such a run.
TEST(TextConversion, CharactersAmidLongAsciiRunsKeepTheirPlace) {
  const std::string run = "0123456789abcdefghij";
  auto ascii = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
  for (size_t at = 0; at <= run.size(); ++at) {
    for (const auto& [narrow, wide] : {std::pair<std::string, std::wstring>{"\xC3\xBC", L"\u00FC"},
                                       {"\xF0\x9D\x84\x9E", L"\U0001D11E"},
                                       {"\x80", L"\uFFFD"},
                                       {std::string("\0", 1), std::wstring(L"\0", 1)}}) {
      const std::string text = run.substr(0, at) + narrow + run.substr(at) + run;
      const std::wstring expected = ascii(run.substr(0, at)) + wide + ascii(run.substr(at)) + ascii(run);
      EXPECT_EQ(FromUtf8(text), expected) << at;
      if (wide != L"\uFFFD") {
        EXPECT_EQ(ToUtf8(expected), text) << at;
      }
      if (!AnsiCodePageIsUtf8()) continue;
      EXPECT_EQ(ToWide(text), expected) << at;
      BSTR bstr = AllocBstr(text);
      EXPECT_EQ(std::wstring(bstr, SysStringLen(bstr)), expected) << at;
      SysFreeString(bstr);
      if (wide != L"\uFFFD") {
        EXPECT_EQ(ToNarrow(expected), text) << at;
      }
    }
  }
}

TEST(TextConversion, IllFormedUtf8BecomesOneReplacementPerBadSubsequence) {
  struct Case {
    std::string input;
    std::wstring expected;
  } cases[] = {
      {"a\x80z", L"a\uFFFDz"},                        // stray continuation byte
      {"\xC0\xAF", L"\uFFFD\uFFFD"},                  // overlong lead
      {"\xE2\x82" "A", L"\uFFFD" "A"},                // truncated three-byte form
      {"\xF0\x9F\x98", L"\uFFFD"},                    // truncated at the end
      {"\xFE\xFF", L"\uFFFD\uFFFD"},
#ifndef _WIN32
      // A lead byte whose next byte cannot follow it is a subsequence of its own (Unicode's
      // advice). Windows does not document its count here (Wine takes both bytes as one).
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},        // encoded surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
#endif
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.input), c.expected) << c.input;
}

TEST(TextConversion, UnencodableWideCharactersBecomeReplacements) {
  const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD
  std::wstring bad = L"a";
  bad += static_cast<wchar_t>(0xD800);
  std::string expected = "a" + replacement;
  if constexpr (sizeof(wchar_t) == 4) {  // beyond Unicode: only a 32-bit wchar_t holds these
    bad += static_cast<wchar_t>(0x110000);
    bad += static_cast<wchar_t>(-1);
    expected += replacement + replacement;
  }
  EXPECT_EQ(ToUtf8(bad), expected);
  if (AnsiCodePageIsUtf8()) {
    EXPECT_EQ(ToNarrow(bad), expected);
  }

  char out[8] = {};
  BOOL usedDefault = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, bad.c_str(), 2, out, sizeof out, nullptr, &usedDefault), 2);
  EXPECT_EQ(std::string(out, 2), "a?");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, bad.c_str(), 2, out, sizeof out, "#", nullptr), 2);
  EXPECT_EQ(std::string(out, 2), "a#");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, bad.c_str(), 2, out, sizeof out, nullptr, &usedDefault), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, bad.c_str(), 2, out, sizeof out, nullptr, nullptr), 0);
}

TEST(TextConversion, MultiByteToWideCharCountsAndBuffers) {
  const char* text = "\xE2\x82\xAC" "1";  // "€1"
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 3);  // with the terminator
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 4, nullptr, 0), 2);
  wchar_t out[3] = {L'x', L'x', L'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 3), 3);
  EXPECT_EQ(std::wstring(out), L"\u20AC" "1");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 2), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, out, 3), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 0, out, 3), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -2, out, 3), 3);  // any negative length counts to the zero
  EXPECT_EQ(std::wstring(out), L"\u20AC" "1");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 3), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, text, -1, out, 3), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, out, 3), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xFF", 2, out, 3), 2);
}

TEST(TextConversion, WideCharToMultiByteCountsAndBuffers) {
  const wchar_t* text = L"\u00E9t\u00E9";  // "été"
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 6);
  char out[6] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 6, nullptr, nullptr), 6);
  EXPECT_STREQ(out, "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 5, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 0, out, 6, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, nullptr, -1, out, 6, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 6, nullptr, nullptr), 0);
}

TEST(TextConversion, BstrHelpersKeepTheWholeString) {
  BSTR b = AllocBstr(std::string("x\0y", 3));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(BstrToNarrow(b), std::string("x\0y", 3));
  SysFreeString(b);
  if (AnsiCodePageIsUtf8()) {
    b = AllocBstr(std::string("x\0\xC3\xA9", 4));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[2], L'\u00E9');
    EXPECT_EQ(BstrToNarrow(b), std::string("x\0\xC3\xA9", 4));
    SysFreeString(b);
  }

  BSTR empty = AllocBstr("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
  EXPECT_EQ(BstrToNarrow(nullptr), "");
}

}  // namespace
