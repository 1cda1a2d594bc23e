// Reading console-log dumps: columns from the header, fields of each record, severities,
// message numbers, event times and the event streams made from them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "console_log_record.h"
#include "console_log_time.h"
#include "listener_sandbox.h"

namespace marrowby::testing {
namespace {

constexpr const char* kHeader =
    "Date        Time      Node            User        Station     Text\n"
    "----------  --------  --------------  ----------  ----------  ----\n";

std::string Row(const char* time, const char* node, const char* user, const char* text) {
  char line[256];
  std::snprintf(line, sizeof line, "%-12s%-10s%-16s%-12s%-12s%s\n", "12/07/2026", time, node, user, "st1", text);
  return line;
}

class DumpParserTest : public ::testing::Test {
 protected:
  // Opens a dump of `text` in a log whose last message number is `msgNr`.
  RecordingLog& Open(const std::string& text, DWORD msgNr = 0) {
    log_ = std::make_unique<RecordingLog>("warm", "d", "", msgNr);
    std::string path = sandbox_.Sandbox().Path("dump.txt");
    auralink::testing::TestSandbox::WriteFile(path, text);
    EXPECT_TRUE(log_->OpenLog(path));
    return *log_;
  }

  ListenerSandbox sandbox_;
  std::unique_ptr<RecordingLog> log_;
};

TEST_F(DumpParserTest, RecordsAreCutByTheHeaderColumnsAndNumberedOnFromTheLastMessage) {
  RecordingLog& log = Open(std::string(kHeader) + Row("03:54:18", "host1", "admin", "ABC_F_001: service stopped  ") +
                               Row("03:54:19", "host2", "oper", "ABC_1234_E, link down"),
                           3);
  EXPECT_EQ(log.Columns(), (DumpColumns{0, 12, 22, 38, 50, 62}));

  ASSERT_TRUE(log.GetNextLogEvent());
  const RecordFields first = log.Record();
  EXPECT_EQ(first[kDate], "12/07/2026");
  EXPECT_EQ(first[kTime], "03:54:18");
  EXPECT_EQ(first[kStation], "st1");
  EXPECT_EQ(first[kText], "ABC_F_001: service stopped");  // trailing blanks go
  EXPECT_EQ(first[kSeverity], "F");
  EXPECT_EQ(first[kMessageType], "TNGmsg#4");
  EXPECT_EQ(RecordEventStream(first), "_GmtEpochTime=" + first[kEventTime] +
                                          "|_Description=host1, admin, ABC_F_001: service stopped|type=TNGmsg#4|"
                                          "_Status=FATAL|");

  ASSERT_TRUE(log.GetNextLogEvent());
  EXPECT_EQ(log.Record()[kMessageType], "TNGmsg#5");
  EXPECT_EQ(log.Record()[kSeverity], "E");
  EXPECT_EQ(std::atoll(log.Record()[kEventTime].c_str()) - std::atoll(first[kEventTime].c_str()), 1);

  EXPECT_FALSE(log.GetNextLogEvent());
  EXPECT_EQ(log.MessageNumber(), 5u);
  EXPECT_EQ(sandbox_.TraceCount("read line false"), 1);
}

TEST_F(DumpParserTest, OddDumpsAreReadWithoutFailing) {
  RecordingLog& headerOnly = Open(kHeader, 7);
  EXPECT_FALSE(headerOnly.GetNextLogEvent());
  EXPECT_EQ(headerOnly.MessageNumber(), 7u);

  // An empty line is a record of empty fields with an unknown severity.
  RecordingLog& empty = Open(std::string(kHeader) + "\n", 7);
  ASSERT_TRUE(empty.GetNextLogEvent());
  for (int field = kDate; field <= kText; ++field) EXPECT_EQ(empty.Record()[field], "") << field;
  EXPECT_EQ(empty.Record()[kMessageType], "TNGmsg#8");
  EXPECT_NE(RecordEventStream(empty.Record()).find("|_Status=UNKNOWN|"), std::string::npos);

  // Without "Station" the User field gets a negative length, and Station starts at 0 and
  // runs one character past the next column's start.
  RecordingLog& noStation = Open("Date        Time      Node            User        Text\n--\n" +
                                 std::string("12/07/2026  03:54:18  host1           admin       hello\n"));
  ASSERT_TRUE(noStation.GetNextLogEvent());
  EXPECT_EQ(noStation.Record()[kUser], "");
  EXPECT_EQ(noStation.Record()[kStation], "12/07/2026  03:54:18  host1           admin       h");
  EXPECT_EQ(noStation.Record()[kText], "hello");

  // CRLF line ends do not reach the fields.
  RecordingLog& crlf = Open(std::string(kHeader) + "12/07/2026  03:54:18  host1           admin       st1         hi\r\n");
  ASSERT_TRUE(crlf.GetNextLogEvent());
  EXPECT_EQ(crlf.Record()[kText], "hi");

  // An empty file opens with no columns.
  RecordingLog& nothing = Open("");
  EXPECT_EQ(nothing.Columns(), (DumpColumns{-1, -1, -1, -1, -1, -1}));
  EXPECT_FALSE(nothing.GetNextLogEvent());

  // A missing one does not open and yields no record.
  EXPECT_FALSE(nothing.OpenLog(sandbox_.Sandbox().Path("absent.txt")));
  EXPECT_FALSE(nothing.GetNextLogEvent());
  EXPECT_EQ(sandbox_.TraceCount("File could not be opened: (exception: "), 1);
}

TEST(Severity, ComesFromAOneLetterSegmentBetweenUnderscoresBeforeTheDelimiter) {
  struct Case {
    const char* text;
    const char* severity;
  };
  const Case cases[] = {
      {"ABC_W_021: disk almost full", "W"},  // first segment
      {"ABC_1234_E, link down", "E"},        // second segment
      {"ABC_I_S: both", "I"},                // the first segment wins
      {"ABC_W_021 disk almost full", "U"},   // no ":" or ","
      {"host:1_12_W: link down", "U"},       // delimiter before the second "_"
      {"ABC_w_021: lower case", "U"},
      {"ABC_X_021: not a severity", "U"},
      {"ABC_W: one underscore", "U"},
      {"", "U"},
  };
  for (const Case& c : cases) EXPECT_EQ(GetEventSeverityFromLog(c.text), c.severity) << c.text;

  ::testing::internal::CaptureStdout();
  GetEventSeverityFromLog("ABC_W_021 disk almost full");
  GetEventSeverityFromLog("ABC_W_021: disk");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "3 5\ntest: the pattern seems to be regular but the last delimiter (: or ,) is not found! "
            "(ABC_W_021 disk almost full)\n3 5\n1 3 W 021\n");

  EXPECT_STREQ(StatusName("s"), "NORMAL");  // compared upper-cased
  EXPECT_STREQ(StatusName(""), "UNKNOWN");
}

TEST(EventStream, APipeInsideAValueCannotStartAPairOfItsOwn) {
  RecordFields fields;
  fields[kEventTime] = "100";
  fields[kNode] = "node|1";
  fields[kUser] = "admin";
  fields[kText] = "x|action=remove|";
  fields[kMessageType] = "TNGmsg#1";
  fields[kSeverity] = "U";
  std::string stream = RecordEventStream(fields);
  EXPECT_EQ(stream, std::string("_GmtEpochTime=100|_Description=node") + kPipeStandIn + "1, admin, x" + kPipeStandIn +
                        "action=remove" + kPipeStandIn + "|type=TNGmsg#1|_Status=UNKNOWN|");
  EXPECT_EQ(ActionEventStream("42", "remove"), "_GmtEpochTime=42|action=remove|");
}

// The event time is the Time column on the reading day, less the zone's standard offset
// (also in summer).
TEST(EventTime, IsTheTimeOnTheReadingDayLessTheStandardOffset) {
  const char* zone = std::getenv("TZ");
  const std::string savedZone = zone ? zone : "";
  ListenerSandbox::SetVariable("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  tzset();
  const std::time_t winterNoonUtc = 1798113600;  // 2026-12-24 12:00:00 UTC, 13:00 local
  const std::time_t winterMidnightLocal = winterNoonUtc - 13 * 3600;
  EXPECT_EQ(SecondsFromEpochGmt(winterNoonUtc, "10:20:30"), winterMidnightLocal + 37230 - 3600);
  EXPECT_EQ(SecondsFromEpochGmt(winterNoonUtc, "garbage"), winterMidnightLocal - 3600);
  EXPECT_EQ(FormatDateText(winterNoonUtc), "24/Dec/2026,13:00:00");

  const std::time_t summerNoonUtc = 1782561600;  // 2026-06-27 12:00:00 UTC, 14:00 local (CEST)
  const std::time_t summerMidnightLocal = summerNoonUtc - 14 * 3600;
  EXPECT_EQ(SecondsFromEpochGmt(summerNoonUtc, "10:20:30"), summerMidnightLocal + 37230 - 3600);
  EXPECT_EQ(EndOfLocalDay(summerNoonUtc), summerMidnightLocal + 86399);

  ListenerSandbox::SetVariable("TZ", zone ? savedZone.c_str() : nullptr);
  tzset();
}

}  // namespace
}  // namespace marrowby::testing
