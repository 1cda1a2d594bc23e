// The polling thread: the cautil command line of each start mode and filter, the day
// change, and whole cycles against the stand-in cautil, with stopping and destruction at
// awkward moments, a hub that refuses, and cautil runs that fail or hang.
#include <auralink/cautil_failures.h>
#include <auralink/conf_repository.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "console_log_time.h"
#include "listener_sandbox.h"

namespace marrowby::testing {
namespace {

constexpr std::time_t kNow = 1798113600;  // a fixed moment for the command lines

class PollingThreadTest : public ::testing::Test {
 protected:
  // The command of the first cycle of a log started with `mode` and `filter`.
  std::string FirstCommand(RecordingLog& log) {
    log.SetClock(kNow);
    log.ActionsAtStart();
    log.NewCycleActions();
    bool prepared = log.PrepareCurrentLogQuery();
    EXPECT_EQ(log.LastRefresh(), std::to_string(kNow + 1));  // advances even when nothing was built
    return prepared ? log.Command() : "<none>";
  }

  std::string SavedText(const char* name) {
    char value[260] = "";
    DWORD size = sizeof value;
    CConfRepositoryManager::GetInstance()->ReadStr(RecordingLog::kStateKey, name, nullptr, value, &size);
    return value;
  }

  DWORD SavedNumber(const char* name) {
    DWORD value = 0xFFFFFFFF;
    CConfRepositoryManager::GetInstance()->ReadNum(RecordingLog::kStateKey, name, nullptr, &value, nullptr);
    return value;
  }

  ListenerSandbox sandbox_;
};

TEST_F(PollingThreadTest, EachStartModeAndFilterBuildsItsQueryAndStartActions) {
  const std::string now = FormatDateText(kNow);
  const std::string old = std::to_string(kNow - 86400);

  RecordingLog warmByDate("warm", "d", "", 5);
  EXPECT_EQ(FirstCommand(warmByDate), "cautil SELECT CONLOG ACT=N START=(" + now + ") END=(" + now +
                                          ") LIST CONLOG OUT=" + warmByDate.DumpPath());
  EXPECT_TRUE(warmByDate.Streams().empty());
  EXPECT_EQ(warmByDate.MessageNumber(), 5u);  // goes on from the saved number
  EXPECT_EQ(sandbox_.TraceCount("GetLastRefreshedDate: _LastRefresh is empty .. current date time got. (_LastRefresh: " +
                                now + ")"),
            1);

  RecordingLog warmFromOld("warm", "d", old, 5);
  EXPECT_EQ(FirstCommand(warmFromOld), "cautil SELECT CONLOG ACT=N START=(" + FormatDateText(kNow - 86400) +
                                           ") END=(" + now + ") LIST CONLOG OUT=" + warmFromOld.DumpPath());

  // A cold start drops what was indicated before and starts the window now.
  RecordingLog coldFromOld("cold", "d", old, 5);
  EXPECT_EQ(FirstCommand(coldFromOld), "cautil SELECT CONLOG ACT=N START=(" + now + ") END=(" + now +
                                           ") LIST CONLOG OUT=" + coldFromOld.DumpPath());
  EXPECT_EQ(coldFromOld.MessageNumber(), 0u);
  ASSERT_EQ(coldFromOld.Streams().size(), 1u);
  EXPECT_NE(coldFromOld.Streams()[0].find("|action=remove|"), std::string::npos);

  for (const char* mode : {"warm", "cold"}) {
    RecordingLog all(mode, "a", old, 5);
    EXPECT_EQ(FirstCommand(all), "cautil SELECT CONLOG ACT=Y LIST CONLOG OUT=" + all.DumpPath()) << mode;
    EXPECT_EQ(all.StreamsWith("|action=remove|"), 1) << mode;
    EXPECT_EQ(all.MessageNumber(), 0u) << mode;
  }

  RecordingLog misspelt("Warm", "d", old, 5);
  EXPECT_EQ(FirstCommand(misspelt), "<none>");
  EXPECT_TRUE(misspelt.Streams().empty());
  EXPECT_NE(warmByDate.DumpPath(), warmFromOld.DumpPath());  // every object has its own dump
}

TEST_F(PollingThreadTest, TheFirstCycleOfANewDayDropsTheDateFilteredEventsAndRestartsTheNumbering) {
  const std::time_t dayEnd = EndOfLocalDay(kNow);
  RecordingLog byDate("warm", "d", "", 9);
  RecordingLog all("warm", "a", "", 9);
  for (RecordingLog* log : {&byDate, &all}) {
    log->SetClock(dayEnd - 10);
    log->ActionsAtStart();
    log->NewCycleActions();
  }
  EXPECT_EQ(byDate.MessageNumber(), 9u);
  EXPECT_TRUE(byDate.Streams().empty());

  for (RecordingLog* log : {&byDate, &all}) {
    log->SetClock(dayEnd + 20);
    log->NewCycleActions();
    log->NewCycleActions();  // once per day
    EXPECT_EQ(log->DayEnd(), EndOfLocalDay(dayEnd + 20));
  }
  EXPECT_EQ(byDate.StreamsWith("|action=remove|"), 1);
  EXPECT_EQ(byDate.MessageNumber(), 0u);
  EXPECT_EQ(all.StreamsWith("|action=remove|"), 1);  // only the one of its start
}

// Messages are stamped a few seconds ahead so that none falls into a window already asked for.
TEST_F(PollingThreadTest, CyclesIndicateEveryNewMessageOnceAndSaveTheirProgress) {
  const std::time_t start = std::time(nullptr);
  sandbox_.AddMessage(start - 30, "host1", "admin", "ABC_W_1: old but inside the saved window");
  sandbox_.AddMessage(start - 600, "host1", "admin", "before the window");
  RecordingLog log("warm", "d", std::to_string(start - 60), 4);
  log.Start();
  log.Start();  // a second Start runs no second thread
  ASSERT_TRUE(WaitFor([&] { return log.StreamsWith("type=TNGmsg#") == 1; }));
  sandbox_.AddMessage(std::time(nullptr) + 2, "host2", "oper", "ABC_E_2: new");
  ASSERT_TRUE(WaitFor([&] { return log.StreamsWith("type=TNGmsg#") == 2; }));
  Sleep(2500);  // two more cycles find nothing new

  auto stopAsked = std::chrono::steady_clock::now();
  log.Stop();
  log.Join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::milliseconds(1000));

  EXPECT_EQ(log.StreamsWith("type=TNGmsg#"), 2);
  EXPECT_EQ(log.StreamsWith("old but inside the saved window|type=TNGmsg#5|_Status=WARNING|"), 1);
  EXPECT_EQ(log.StreamsWith("host2, oper, ABC_E_2: new|type=TNGmsg#6|_Status=CRITICAL|"), 1);
  EXPECT_EQ(sandbox_.TraceCount("Polling Cycle entered."), 1);
  EXPECT_EQ(SavedNumber("LastMsgNr"), 6u);
  EXPECT_EQ(SavedText("LastRefresh"), log.LastRefresh());
  EXPECT_EQ(sandbox_.DumpFilesLeft(), 0);
}

TEST_F(PollingThreadTest, StopIsHarmlessBeforeAnyThreadAndEndsASleepingOneWithinANap) {
  RecordingLog log("warm", "a", "", 0, 30);
  log.Stop();  // never ran: the empty dump path cannot be deleted, nothing else happens
  log.Join();
  EXPECT_EQ(sandbox_.TraceCount("Log File cannot not be closed: (exception: "), 1);
  EXPECT_EQ(sandbox_.TraceCount("Polling Cycle entered."), 0);

  log.Start();
  ASSERT_TRUE(WaitFor([&] { return sandbox_.TraceCount("Sleeping...") == 1; }));
  auto stopAsked = std::chrono::steady_clock::now();
  log.Stop();
  log.Stop();
  log.Join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::milliseconds(1000));
  EXPECT_EQ(sandbox_.TraceCount("The thread to listening to log will be terminated"), 1);
  EXPECT_EQ(sandbox_.TraceCount("The thread to listening to log is being terminated"), 3);
}

// A stop during a cautil run that would never end ends the run at once (the child too);
// destroying the object waits for the thread, which leaves its cycle without the window.
TEST_F(PollingThreadTest, AStopDuringAHangingCautilRunEndsTheRunAtOnce) {
  const std::string commands = sandbox_.Sandbox().Path("commands.txt");
  ListenerSandbox::SetVariable("CAUTIL_COMMAND_LOG", commands.c_str());
  ListenerSandbox::SetVariable("CAUTIL_DELAY_MS", "600000");
  const std::string window = std::to_string(std::time(nullptr) - 60);
  auto log = std::make_unique<RecordingLog>("cold", "a", window, 7);
  const std::string dumpPath = log->DumpPath();
  log->Start();
  ASSERT_TRUE(WaitFor([&] { return auralink::testing::TestSandbox::ProcessRunningWith(dumpPath); }));
  auto stopAsked = std::chrono::steady_clock::now();
  log->Stop();
  log->Join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::milliseconds(1500));
  EXPECT_FALSE(auralink::testing::TestSandbox::ProcessRunningWith(dumpPath));
  EXPECT_EQ(sandbox_.TraceCount("The cautil query was ended because the thread is stopping"), 1);
  EXPECT_EQ(log->MessageNumber(), 0u);  // as the cold start set it
  EXPECT_EQ(Text(RecordingLog::kStateKey, "LastMsgNr"), "<absent>");
  log.reset();
  EXPECT_EQ(sandbox_.TraceCount("Sleeping..."), 1);             // the cycle was finished, then the thread left
  EXPECT_EQ(sandbox_.TraceCount("_Event: _GmtEpochTime="), 1);  // the remove of the cold start only
  EXPECT_EQ(sandbox_.DumpFilesLeft(), 0);
}

// The hub refusing every event, then a stop while the dump is read: neither cycle saves
// its window, in memory or in the registry, so the next start asks for it again and
// every message arrives, with the numbers it would have had.
TEST_F(PollingThreadTest, AWindowIsSavedOnlyOnceEveryRecordOfItReachedTheHub) {
  constexpr int kMessages = 600;
  const std::time_t start = std::time(nullptr);
  const std::string window = std::to_string(start - 60);
  for (int i = 0; i < kMessages; ++i) sandbox_.AddMessage(start - 30, "host1", "admin", "burst " + std::to_string(i));
  RecordingLog log("warm", "d", window, 4);
  auto expectWindowKept = [&](const char* when) {
    EXPECT_EQ(log.LastRefresh(), window) << when;
    EXPECT_EQ(log.MessageNumber(), 4u) << when;
    EXPECT_EQ(Text(RecordingLog::kStateKey, "LastRefresh"), "<absent>") << when;
    EXPECT_EQ(Text(RecordingLog::kStateKey, "LastMsgNr"), "<absent>") << when;
  };

  log.SetRefusing(true);
  log.Start();
  ASSERT_TRUE(WaitFor([&] { return sandbox_.TraceCount("An event did not reach the hub") >= 2; }));
  log.Stop();
  log.Join();
  expectWindowKept("refused");

  log.SetRefusing(false);
  log.Start();
  ASSERT_TRUE(WaitFor([&] { return log.StreamsWith(", burst ") >= 100; }));
  log.Stop();
  log.Join();
  EXPECT_LT(log.StreamsWith(", burst "), kMessages);
  EXPECT_EQ(sandbox_.TraceCount("Stop asked while the dump is read"), 1);
  expectWindowKept("stopped");

  log.Start();
  ASSERT_TRUE(WaitFor([&] { return log.StreamsWith(", burst " + std::to_string(kMessages - 1) + "|") == 1; }));
  log.Stop();
  log.Join();
  for (int i = 0; i < kMessages; ++i) {
    ASSERT_GE(log.StreamsWith(", burst " + std::to_string(i) + "|type=TNGmsg#" + std::to_string(5 + i) + "|"), 1) << i;
  }
  EXPECT_EQ(SavedNumber("LastMsgNr"), static_cast<DWORD>(4 + kMessages));
  EXPECT_EQ(SavedText("LastRefresh"), log.LastRefresh());
  EXPECT_NE(log.LastRefresh(), window);
  EXPECT_EQ(sandbox_.DumpFilesLeft(), 0);
}

// A cautil that cannot be started, one that writes no dump, and one that runs past its
// time limit each keep the window and count as a failure; once cautil works again the
// window asked for since the first failure is delivered. An exit code other than 0 with a
// dump is no failure, and a dump found after a failed run is not read.
TEST_F(PollingThreadTest, FailedCautilRunsKeepTheWindowUntilARunDelivers) {
  const std::time_t start = std::time(nullptr);
  const std::string window = std::to_string(start - 60);
  sandbox_.AddMessage(start - 30, "host1", "admin", "ABC_S_3: waited for");
  RecordingLog log("warm", "d", window, 4);
  const unsigned long long failuresBefore = auralink::CautilFailureCount();
  auto runUntil = [&](const char* traceText) {
    const int seen = sandbox_.TraceCount(traceText);
    const int kept = sandbox_.TraceCount("The window is kept for the next cycle");
    log.Start();
    ASSERT_TRUE(WaitFor([&] { return sandbox_.TraceCount(traceText) > seen; })) << traceText;
    ASSERT_TRUE(WaitFor([&] { return sandbox_.TraceCount("The window is kept for the next cycle") > kept; }));
    log.Stop();
    log.Join();
    EXPECT_EQ(log.LastRefresh(), window) << traceText;
    EXPECT_EQ(Text(RecordingLog::kStateKey, "LastRefresh"), "<absent>") << traceText;
  };

  const std::string path = std::getenv("PATH");
  ListenerSandbox::SetVariable("PATH", sandbox_.Sandbox().Dir().c_str());
  auralink::testing::TestSandbox::WriteFile(log.DumpPath(), "Date Time Node User Station Text\n--\nstale\n");
  runUntil("execProcess failed with RC = -3001");
  ListenerSandbox::SetVariable("PATH", path.c_str());
  EXPECT_GE(sandbox_.TraceCount("Unable to Run the Current Log Query!"), 1);

  ListenerSandbox::SetVariable("CAUTIL_FAIL", "nodump");
  runUntil("Unable to open the log: ");
  ListenerSandbox::SetVariable("CAUTIL_FAIL", nullptr);

  ListenerSandbox::SetVariable("CAUTIL_DELAY_MS", "600000");
  log.SetCautilTimeLimit(1000);
  runUntil("The cautil query did not end within 1 seconds and was ended");
  ListenerSandbox::SetVariable("CAUTIL_DELAY_MS", nullptr);
  EXPECT_FALSE(auralink::testing::TestSandbox::ProcessRunningWith(log.DumpPath()));
  EXPECT_GE(auralink::CautilFailureCount() - failuresBefore, 3u);
  EXPECT_TRUE(log.Streams().empty());

  ListenerSandbox::SetVariable("CAUTIL_EXIT_CODE", "2");
  log.Start();
  ASSERT_TRUE(WaitFor([&] { return log.StreamsWith("ABC_S_3: waited for|type=TNGmsg#5|_Status=NORMAL|") == 1; }));
  log.Stop();
  log.Join();
  EXPECT_GE(sandbox_.TraceCount("execProcess successfull (RC = 2)"), 1);
  EXPECT_EQ(SavedNumber("LastMsgNr"), 5u);
  EXPECT_EQ(log.StreamsWith("stale"), 0);
  EXPECT_EQ(sandbox_.DumpFilesLeft(), 0);
}

}  // namespace
}  // namespace marrowby::testing
