// The trace log: level filter, roll-over to "<file>.bak", whole lines from many threads,
// one write per line, the text of each line as printf would make it, and its quiet
// behaviour when there is no file.
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <auralink/platform/calendar.h>
#include <windows.h>

#include <climits>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "trace/trace_file_io.h"
#include "trace/trace_format.h"

using auralink::testing::TestSandbox;

// Puts a table of system calls under the trace, as a test's own replacement would.
struct CTraceUtilsTestAccess {
  static void SetIo(CTraceUtils* trace, const auralink::trace::TraceFileIo* io) { trace->io_ = io; }
};

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(TestSandbox::ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Parses the part of a trace line after its time stamp and thread ("L<level> <component>: <text>")
// with `pattern`, which must end in %n; true when the whole line matched.
template <class... Out>
bool ParseLine(const std::string& line, const char* pattern, Out*... out) {
  size_t start = line.find("] L");
  if (start == std::string::npos) return false;
  const char* rest = line.c_str() + start + 2;
  int consumed = -1;
  std::sscanf(rest, pattern, out..., &consumed);
  return consumed >= 0 && rest[consumed] == '\0';
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

class TraceTest : public ::testing::Test {
 protected:
  void TearDown() override { CTraceUtils::GetInstance()->Close(); }
  TestSandbox sandbox;
  CTraceUtils* trace = CTraceUtils::GetInstance();
};

TEST_F(TraceTest, WritesOnlyLevelsUpToTheTraceLevel) {
  TestSandbox::WriteFile(sandbox.TraceFile(), "earlier line\n");  // appended to
  trace->LogInitAppend(sandbox.TraceFile().c_str(), 1, 0, -1);
  for (int level = 0; level <= 3; ++level) trace->LogMsg(level, "Hub", "level %d of %s", level, "QuillonLst");
  auto lines = Lines(sandbox.TraceFile());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line");
  EXPECT_NE(lines[1].find("Hub: level 0 of QuillonLst"), std::string::npos);
  EXPECT_NE(lines[2].find("Hub: level 1 of QuillonLst"), std::string::npos);

  // -1 has every bit set: every level is written.
  trace->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, -1);
  trace->LogMsg(9, "Hub", "level 9");
  EXPECT_TRUE(Contains(Lines(sandbox.TraceFile()), "Hub: level 9"));
}

TEST_F(TraceTest, NothingIsWrittenWithoutAnOpenFile) {
  trace->LogMsg(0, "Test", "before LogInitAppend");
  EXPECT_FALSE(std::filesystem::exists(sandbox.TraceFile()));
  EXPECT_FALSE(trace->IsEnabled(0));

  trace->LogInitAppend("", -1, 0, -1);  // an empty name switches tracing off
  trace->LogMsg(0, "Test", "with an empty name");
  EXPECT_FALSE(trace->IsEnabled(0));
  EXPECT_FALSE(std::filesystem::exists(sandbox.TraceFile()));
}

TEST_F(TraceTest, UnopenableFileIsReportedOnceOnStandardError) {
  std::string unopenable = sandbox.Path("missing-folder/trace.log");
  ::testing::internal::CaptureStderr();
  trace->LogInitAppend(unopenable.c_str(), -1, 0, -1);
  trace->LogMsg(0, "Test", "lost");
  trace->LogInitAppend(unopenable.c_str(), -1, 0, -1);
  std::string errors = ::testing::internal::GetCapturedStderr();
  size_t first = errors.find(unopenable);
  ASSERT_NE(first, std::string::npos) << errors;
  EXPECT_EQ(errors.find(unopenable, first + 1), std::string::npos) << errors;
  EXPECT_FALSE(std::filesystem::exists(unopenable));

  trace->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, -1);  // a good file works afterwards
  trace->LogMsg(0, "Test", "found");
  EXPECT_TRUE(Contains(Lines(sandbox.TraceFile()), "Test: found"));
}

TEST_F(TraceTest, FullFileRollsOverToBak) {
  const LONG maxSize = 600;
  trace->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, maxSize);
  const int count = 40;
  for (int i = 0; i < count; ++i) trace->LogMsg(0, "Roll", "line %03d of the roll-over test", i);

  std::string backup = sandbox.TraceFile() + ".bak";
  ASSERT_TRUE(std::filesystem::exists(backup));
  auto current = Lines(sandbox.TraceFile());
  auto previous = Lines(backup);
  ASSERT_FALSE(previous.empty());
  EXPECT_LT(std::filesystem::file_size(sandbox.TraceFile()), static_cast<uintmax_t>(maxSize));
  EXPECT_LE(std::filesystem::file_size(backup), static_cast<uintmax_t>(maxSize) + 100);

  // The two files hold consecutive lines, the newest at the end of the current file.
  std::vector<std::string> joined = previous;
  joined.insert(joined.end(), current.begin(), current.end());
  int expected = count - 1;
  for (auto line = joined.rbegin(); line != joined.rend(); ++line, --expected) {
    int number = -1;
    ASSERT_TRUE(ParseLine(*line, "L0 Roll: line %d of the roll-over test%n", &number)) << *line;
    EXPECT_EQ(number, expected);
  }
}

TEST_F(TraceTest, AnOversizedFileRollsOnTheFirstLine) {
  TestSandbox::WriteFile(sandbox.TraceFile(), std::string(2000, 'x') + "\n");
  trace->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, 1000);
  trace->LogMsg(0, "Roll", "after the old content");
  trace->LogMsg(0, "Roll", "in the new file");
  EXPECT_TRUE(std::filesystem::exists(sandbox.TraceFile() + ".bak"));
  EXPECT_TRUE(Contains(Lines(sandbox.TraceFile()), "Roll: in the new file"));
  EXPECT_LT(std::filesystem::file_size(sandbox.TraceFile()), 1000u);
}

TEST_F(TraceTest, ManyThreadsWriteWholeLines) {
  trace->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, -1);
  const int threads = 8;
  const int perThread = 250;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < perThread; ++i)
        CTraceUtils::GetInstance()->LogMsg(i % 4, "Worker", "thread %d line %d %s", t, i,
                                           "with a tail long enough to tempt a torn write");
    });
  }
  for (auto& worker : workers) worker.join();

  auto lines = Lines(sandbox.TraceFile());
  ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
  std::set<std::pair<int, int>> seen;
  for (const auto& line : lines) {
    int level = -1, thread = -1, number = -1;
    ASSERT_TRUE(ParseLine(line, "L%d Worker: thread %d line %d with a tail long enough to tempt a torn write%n", &level,
                          &thread, &number))
        << line;
    seen.emplace(thread, number);
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(threads * perThread));
}

// The text of a line: what snprintf makes of the same format and arguments.
template <class... Args>
void ExpectFormattedAsPrintf(const char* format, Args... args) {
  char expected[512];
  std::snprintf(expected, sizeof expected, format, args...);
  auto append = [](std::string& out, const char* f, ...) {
    va_list list;
    va_start(list, f);
    auralink::trace::AppendFormatted(out, f, list);
    va_end(list);
  };
  std::string got = "kept ";
  append(got, format, args...);
  EXPECT_EQ(got, std::string("kept ") + expected) << format;
}

TEST(TraceFormat, WritesWhatPrintfWritesAndWideTextAsUtf8) {
  ExpectFormattedAsPrintf("plain text, 100%% sure");
  ExpectFormattedAsPrintf("%d %i %u %x %X %o %c %s.", -42, INT_MIN, UINT_MAX, 0xBEEFu, 0xBEEFu, 8u, 'q', "text");
  ExpectFormattedAsPrintf("%ld %lu %lld %llu %zu %hhd %hu %jd", LONG_MIN, ULONG_MAX, LLONG_MIN, ULLONG_MAX,
                          static_cast<size_t>(7), 300, 70000, static_cast<intmax_t>(-5));
  ExpectFormattedAsPrintf("[%5d] [%-5d] [%05d] [%+d] [%8.3f] [%.2s] [%-6s] [%#x] [%*d] [%.*s] [%e] [%g]", 42, 42, 42, 42,
                          3.14159, "abcdef", "ab", 255u, 6, 7, 3, "abcdef", 12345.678, 0.0001);
  ExpectFormattedAsPrintf("%s and %s", "text", "");

  // What a C library makes of an unknown directive differs (a lone "%" at the end is dropped
  // by some); the trace writes it as it is.
  std::string unknown = "kept ";
  auto append = [](std::string& out, const char* f, ...) {
    va_list list;
    va_start(list, f);
    auralink::trace::AppendFormatted(out, f, list);
    va_end(list);
  };
  append(unknown, "unknown %y and %5k then %d and %", 1);
  EXPECT_EQ(unknown, "kept unknown %y and %5k then 1 and %");

  // Wide text is written as UTF-8 whatever the locale, as the platform's FormatText does.
  std::string wide;
  append(wide, "%S|%ls|%-8S|%.3S|%lc", L"Grüße €", L"\U0001D11E", L"ab", L"abcdef", static_cast<wint_t>(L'é'));
  EXPECT_EQ(wide, "Grüße €|\U0001D11E|ab      |abc|é");
  // Two surrogate code units are one character where wchar_t is UTF-16, and two unpaired
  // surrogates where it is UTF-32; a surrogate alone is never a character.
  std::string units;
  const wchar_t pair[] = {0xD834, 0xDD1E, 0};
  const wchar_t lone[] = {L'a', 0xDC00, L'b', 0xD834, 0};
  append(units, "%S|%S", pair, lone);
  EXPECT_EQ(units, std::string(sizeof(wchar_t) == 2 ? "\U0001D11E" : "\uFFFD\uFFFD") + "|a\uFFFDb\uFFFD");
}

// Each line goes to the file in one write, whole, and a line above the level makes no
// system call at all.
TEST_F(TraceTest, EachLineIsOneWriteWithTheHeader) {
  static std::vector<std::string> writes;
  writes.clear();
  static const auralink::trace::TraceFileIo counting{
      auralink::trace::TraceFileIo::System().open,
      [](int fd, const void* data, unsigned long long size) -> long long {
        writes.emplace_back(static_cast<const char*>(data), size);
        return auralink::trace::TraceFileIo::System().write(fd, data, size);
      },
      auralink::trace::TraceFileIo::System().size, auralink::trace::TraceFileIo::System().close};
  CTraceUtilsTestAccess::SetIo(trace, &counting);
  trace->LogInitAppend(sandbox.TraceFile().c_str(), 2, 0, -1);
  const time_t before = time(nullptr);
  for (int i = 0; i < 5; ++i) trace->LogMsg(i % 4, "Count", "line %d", i);
  CTraceUtilsTestAccess::SetIo(trace, &auralink::trace::TraceFileIo::System());

  auto lines = Lines(sandbox.TraceFile());
  ASSERT_EQ(lines.size(), 4u);  // levels 0, 1, 2 and the second 0; level 3 dropped
  ASSERT_EQ(writes.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(writes[i], lines[i] + "\n");
  int year, month, day, hour, minute, second, millis, level;
  unsigned thread;
  char text[64] = {};
  ASSERT_EQ(std::sscanf(lines[3].c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d [%u] L%d Count: %63[^\n]", &year, &month, &day,
                        &hour, &minute, &second, &millis, &thread, &level, text),
            10)
      << lines[3];
  EXPECT_EQ(lines[3].substr(0, 24).find(' ', 11), 23u) << lines[3];  // three digits of milliseconds
  EXPECT_EQ(thread, static_cast<unsigned>(GetCurrentThreadId()));
  EXPECT_EQ(level, 0);
  EXPECT_STREQ(text, "line 4");
  tm local{};
  ASSERT_TRUE(auralink::platform::LocalCalendar(before, local));
  EXPECT_EQ(year, local.tm_year + 1900);
  EXPECT_EQ(month, local.tm_mon + 1);
}

}  // namespace

TEST_F(TraceTest, LongAndShortTextsFollowEachOtherWhole) {
  trace->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, -1);
  const std::string xml = "<instance>" + std::string(20000, 'x') + "</instance>";
  trace->LogMsg(3, "Long", "made %s for %d", xml.c_str(), 7);
  trace->LogMsg(3, "Short", "after %s", "it");
  trace->LogMsg(3, "Long", "again %s", (xml + xml).c_str());

  auto lines = Lines(sandbox.TraceFile());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(lines[0].find("] L")), "] L3 Long: made " + xml + " for 7");
  EXPECT_EQ(lines[1].substr(lines[1].find("] L")), "] L3 Short: after it");
  EXPECT_EQ(lines[2].substr(lines[2].find("] L")), "] L3 Long: again " + xml + xml);
}
