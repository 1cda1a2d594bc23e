// The trace log: level filter, roll-over to "<file>.bak", whole lines from many threads,
// and its quiet behaviour when there is no file.
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>

#include <filesystem>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using auralink::testing::TestSandbox;

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
