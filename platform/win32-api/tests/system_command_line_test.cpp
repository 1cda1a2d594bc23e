#include <gtest/gtest.h>
#include <winbase.h>
#include <auralink/platform/command_line.h>

using auralink::platform::SplitCommandLine;
using Words = std::vector<std::string>;

TEST(SplitCommandLine, SeparatesWordsByBlanksAndTabs) {
  EXPECT_EQ(SplitCommandLine("cautil SELECT CONLOG"), (Words{"cautil", "SELECT", "CONLOG"}));
  EXPECT_EQ(SplitCommandLine("  a \t b\t\tc  "), (Words{"a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine(""), Words{});
  EXPECT_EQ(SplitCommandLine(" \t "), Words{});
}

TEST(SplitCommandLine, KeepsParenthesesCommasAndEqualSignsInsideWords) {
  EXPECT_EQ(SplitCommandLine("cautil SELECT CONLOG ACT=N START=(07/Dec/2026,03:54:18) END=(07/Dec/2026,03:55:18) "
                             "LIST CONLOG OUT=/tmp/tmp.txt"),
            (Words{"cautil", "SELECT", "CONLOG", "ACT=N", "START=(07/Dec/2026,03:54:18)",
                   "END=(07/Dec/2026,03:55:18)", "LIST", "CONLOG", "OUT=/tmp/tmp.txt"}));
}

TEST(SplitCommandLine, QuotesGroupBlanksAndDisappear) {
  EXPECT_EQ(SplitCommandLine(R"(prog "a b" c)"), (Words{"prog", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine(R"(prog a"b c"d)"), (Words{"prog", "ab cd"}));
  EXPECT_EQ(SplitCommandLine(R"(prog "" x)"), (Words{"prog", "", "x"}));
  EXPECT_EQ(SplitCommandLine(R"(prog "unterminated group)"), (Words{"prog", "unterminated group"}));
}

TEST(SplitCommandLine, BackslashesCountOnlyBeforeAQuote) {
  EXPECT_EQ(SplitCommandLine(R"(prog a\b c\\d)"), (Words{"prog", R"(a\b)", R"(c\\d)"}));
  EXPECT_EQ(SplitCommandLine(R"(prog a\"b)"), (Words{"prog", R"(a"b)"}));          // odd: literal quote
  EXPECT_EQ(SplitCommandLine(R"(prog a\\"b c")"), (Words{"prog", R"(a\b c)"}));    // even: halved, quote groups
  EXPECT_EQ(SplitCommandLine(R"(prog a\\\"b)"), (Words{"prog", R"(a\"b)"}));
  EXPECT_EQ(SplitCommandLine(R"(prog "C:\dir\\" next)"), (Words{"prog", R"(C:\dir\)", "next"}));
  EXPECT_EQ(SplitCommandLine(R"(prog trailing\)"), (Words{"prog", R"(trailing\)"}));
}

TEST(SplitCommandLine, DoubledQuoteInsideAGroupIsALiteralQuote) {
  EXPECT_EQ(SplitCommandLine(R"(prog "a""b")"), (Words{"prog", R"(a"b)"}));
  EXPECT_EQ(SplitCommandLine(R"(prog "a"" b" c)"), (Words{"prog", R"(a" b)", "c"}));
  EXPECT_EQ(SplitCommandLine(R"(prog """")"), (Words{"prog", R"(")"}));
}

TEST(SplitCommandLine, ProgramNameTakesQuotesOnlyAsGrouping) {
  EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\tool\" -x)"), (Words{R"(C:\Program Files\tool\)", "-x"}));
  EXPECT_EQ(SplitCommandLine(R"(C:\tools\cautil.exe a)"), (Words{R"(C:\tools\cautil.exe)", "a"}));
  EXPECT_EQ(SplitCommandLine(R"("/opt/my tools/run" "x y")"), (Words{"/opt/my tools/run", "x y"}));
}
