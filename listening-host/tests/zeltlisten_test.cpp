// zeltlisten run as the service runs it: the built program for the event agent, with the
// hub facade and the console-log listener registered into the test's registry, the
// stand-in cautil reading the test's console log, and the stand-in Orvex adapter, whose
// record file shows what Orvex received.
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <test_sandbox.h>
#include <module_function.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "adapter_test_agent.h"

namespace {

using auralink::testing::TestSandbox;
namespace config = auralink::config;

constexpr const char* kAgent = "MarrowbyLst";
constexpr int kPollSeconds = 30;  // the shortest interval the listener accepts

class ZeltlistenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("APATH", ORVEX_ADAPTER_DIR, 1);
    savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (std::string(CAUTIL_FOLDER) + ":" + savedPath).c_str(), 1);
    setenv("TMPDIR", sandbox.Dir().c_str(), 1);
    setenv("CAUTIL_CONSOLE_LOG", sandbox.Path("console.log").c_str(), 1);
    typedef HRESULT(STDAPICALLTYPE * RegisterFunction)();
    for (const char* module : {TOUCHPOINT_MODULE, MARROWBY_MODULE}) {
      HMODULE library = LoadLibraryA(module);
      auto registerServer =
          library ? auralink::testing::ModuleFunction<RegisterFunction>(library, "DllRegisterServer") : nullptr;
      ASSERT_TRUE(registerServer && SUCCEEDED(registerServer())) << module;
    }
    orvex::testing::WriteAgentSettings(kAgent, sandbox.Dir());
    const std::string log = config::EventLogKey(kAgent, "TNGlog");
    CConfRepositoryManager::GetInstance()->SetStr(log.c_str(), config::kRefreshTime, std::to_string(kPollSeconds).c_str());
  }
  void TearDown() override {
    if (child > 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    for (const char* name : {"APATH", "TMPDIR", "CAUTIL_CONSOLE_LOG"}) unsetenv(name);
    setenv("PATH", savedPath.c_str(), 1);
  }

  // Starts zeltlisten -e and waits until it listens.
  void StartListening() {
    child = fork();
    if (child == 0) {
      const std::string out = sandbox.Path("zeltlisten.out");
      if (!freopen(out.c_str(), "a", stdout)) _exit(126);
      const std::string program = TestSandbox::BuildDir() + "/bin/zeltlisten";
      execl(program.c_str(), program.c_str(), "-e", static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitFor(30, [this] { return Trace().find("Listening for the indications of MarrowbyLst") != std::string::npos; }))
        << Trace();
  }
  // Sends `signal` and gives the exit status (-signal when it ended by one).
  int StopListening(int signal) {
    if (child <= 0) return -1000;  // kill(-1, ...) would signal every process of the user
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    child = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  void AddMessage(std::time_t when, const std::string& text) {
    std::ofstream log(sandbox.Path("console.log"), std::ios::app);
    log << static_cast<long long>(when) << "\thost1\tadmin\tstation1\t" << text << '\n';
  }
  template <typename Condition>
  static bool WaitFor(int seconds, Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
      if (condition()) return true;
      Sleep(100);
    }
    return condition();
  }
  std::string Record() const { return TestSandbox::ReadFile(sandbox.Path("orvex-record.txt")); }
  std::string Trace() const { return TestSandbox::ReadFile(sandbox.Path(std::string(kAgent) + ".log")); }
  int RecordCount(const std::string& text) const {
    const std::string record = Record();
    int count = 0;
    for (size_t at = record.find(text); at != std::string::npos; at = record.find(text, at + 1)) ++count;
    return count;
  }

  TestSandbox sandbox;
  std::string savedPath;
  pid_t child = -1;
};

// Threads of the running program (the Java VM's among them) that would take SIGTERM or
// SIGINT away from the main thread's wait, which stops the program in order.
std::vector<std::string> ThreadsTakingStopSignals(pid_t pid) {
  std::vector<std::string> threads;
  const unsigned long long stopBits = (1ull << (SIGTERM - 1)) | (1ull << (SIGINT - 1));
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    // The main thread's wait itself unblocks them while it waits.
    if (task.path().filename() == std::to_string(pid)) continue;
    const std::string status = TestSandbox::ReadFile(task.path().string() + "/status");
    const size_t at = status.find("SigBlk:");
    if (at == std::string::npos) continue;
    if ((std::strtoull(status.c_str() + at + 7, nullptr, 16) & stopBits) != stopBits)
      threads.push_back(TestSandbox::ReadFile(task.path().string() + "/comm"));
  }
  return threads;
}

TEST_F(ZeltlistenTest, AConsoleMessageAppendedWhileItRunsReachesOrvexWithinTwoPollIntervals) {
  StartListening();
  EXPECT_EQ(std::vector<std::string>(), ThreadsTakingStopSignals(child));
  const auto appended = std::chrono::steady_clock::now();
  AddMessage(std::time(nullptr), "ABC_W_1: disk almost full");
  ASSERT_TRUE(WaitFor(2 * kPollSeconds + 5, [this] { return RecordCount("disk almost full") > 0; }))
      << Record() << Trace();
  EXPECT_LE(std::chrono::steady_clock::now() - appended, std::chrono::seconds(2 * kPollSeconds));
  EXPECT_EQ(0, StopListening(SIGTERM));

  const std::string record = Record();
  EXPECT_EQ(0u, record.find("registerInstrumentation\t"));
  EXPECT_NE(std::string::npos, record.find("sendEvent\t"));
  EXPECT_EQ(1, RecordCount("disk almost full"));
  const std::string lastLine = record.substr(record.rfind('\n', record.size() - 2) + 1);
  EXPECT_EQ(0u, lastLine.find("unregisterInstrumentation\t")) << "the instrumentation is unregistered last";
  const std::string trace = Trace();
  const size_t stopped = trace.find("Stopped: received ");
  ASSERT_NE(std::string::npos, stopped) << trace;
  unsigned long long received = 0, forwarded = 0, queued = 1;
  ASSERT_EQ(3, std::sscanf(trace.c_str() + stopped, "Stopped: received %llu, forwarded %llu, queued %llu", &received,
                           &forwarded, &queued));
  EXPECT_GE(received, 1u);
  EXPECT_EQ(received, forwarded);
  EXPECT_EQ(0u, queued);
  EXPECT_TRUE(std::filesystem::exists(sandbox.Path("MarrowbyLstQueue.journal")));
}

TEST_F(ZeltlistenTest, AnEventOrvexRefusedBeforeAKillIsSentAfterTheRestart) {
  // The message is in the first window the listener reads, so it is indicated at once.
  const std::string log = config::EventLogKey(kAgent, "TNGlog");
  const std::time_t now = std::time(nullptr);
  CConfRepositoryManager::GetInstance()->SetStr(log.c_str(), "LastRefresh", std::to_string(now - 60).c_str());
  AddMessage(now - 30, "ABC_E_2: link down");
  TestSandbox::WriteFile(sandbox.Path("orvex-fault.properties"), "method=sendEvent\nmessage=server busy\n");
  StartListening();
  ASSERT_TRUE(WaitFor(2 * kPollSeconds, [this] { return Trace().find("was not accepted") != std::string::npos; }))
      << Trace();
  EXPECT_EQ(-SIGKILL, StopListening(SIGKILL));
  EXPECT_EQ(0, RecordCount("link down"));

  // The listener saved its progress, so only the queue journal still has the event.
  std::filesystem::remove(sandbox.Path("orvex-fault.properties"));
  StartListening();
  ASSERT_TRUE(WaitFor(30, [this] { return RecordCount("link down") > 0; })) << Record() << Trace();
  EXPECT_EQ(0, StopListening(SIGTERM));
  EXPECT_EQ(1, RecordCount("link down"));
  EXPECT_NE(std::string::npos, Trace().find("1 queued operation(s) replayed")) << "the journal, not the listener, kept it";
}

// Stops during a cycle and failing or hanging cautil runs: nothing of a window is lost.
// Each run reads its first window at once, so a restart stands in for the next cycle.
class ZeltlistenCycleTest : public ZeltlistenTest {
 protected:
  void SetUp() override {
    ZeltlistenTest::SetUp();
    for (const char* name : kCautilSwitches) unsetenv(name);
  }
  void TearDown() override {
    ZeltlistenTest::TearDown();
    for (const char* name : kCautilSwitches) unsetenv(name);
  }

  // A warm start with the date filter whose saved window starts at `windowStart`.
  static void UseSavedWindow(std::time_t windowStart) {
    const std::string log = config::EventLogKey(kAgent, "TNGlog");
    CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
    repository->SetStr(log.c_str(), config::kStartMode, "warm");
    repository->SetStr(log.c_str(), config::kMsgFilter, "d");
    repository->SetStr(log.c_str(), config::kLastRefresh, std::to_string(windowStart).c_str());
  }
  int TraceCount(const std::string& text) const {
    const std::string trace = Trace();
    int count = 0;
    for (size_t at = trace.find(text); at != std::string::npos; at = trace.find(text, at + 1)) ++count;
    return count;
  }
  // The last line of the trace that holds `text`, from `text` on.
  std::string LastLineWith(const std::string& text) const {
    const std::string trace = Trace();
    const size_t at = trace.rfind(text);
    return at == std::string::npos ? "" : trace.substr(at, trace.find('\n', at) - at);
  }
  std::string LastCountsLine() const { return LastLineWith("Indications received "); }
  // How often each "burst <n>" message reached Orvex.
  std::map<int, int> Bursts() const {
    std::map<int, int> seen;
    const std::string record = Record();
    for (size_t at = record.find(": burst "); at != std::string::npos; at = record.find(": burst ", at + 1)) {
      ++seen[std::atoi(record.c_str() + at + 8)];
    }
    return seen;
  }
  // Figures for the test log; flushed before the next fork copies the buffer.
  static void Report(const char* run, const std::string& figures) {
    std::printf("[ figures  ] %s: %s\n", run, figures.c_str());
    std::fflush(stdout);
  }

  static constexpr const char* kCautilSwitches[] = {"CAUTIL_FAIL", "CAUTIL_DELAY_MS"};
};

TEST_F(ZeltlistenCycleTest, AStopInTheMiddleOfABurstLosesNoneOfItAcrossARestart) {
  constexpr int kBurst = 5000;
  const std::time_t now = std::time(nullptr);
  UseSavedWindow(now - 120);
  // The journal's fsync per operation would make the burst take minutes here; what is
  // tested is the listener's window, which does not depend on the store.
  CConfRepositoryManager::GetInstance()->SetStr(config::AdapterKey(kAgent).c_str(), config::kTransportLocalQueueStore,
                                                "memory");
  {
    std::ofstream log(sandbox.Path("console.log"), std::ios::app);
    for (int i = 0; i < kBurst; ++i) log << static_cast<long long>(now - 60) << "\thost1\tadmin\tstation1\tABC_I_1: burst " << i << '\n';
  }
  StartListening();
  ASSERT_TRUE(WaitFor(60, [this] { return Bursts().size() >= 1000; })) << Bursts().size();
  EXPECT_EQ(0, StopListening(SIGTERM));
  const size_t firstRun = Bursts().size();
  EXPECT_LT(firstRun, static_cast<size_t>(kBurst)) << "the stop came after the burst";
  EXPECT_EQ(1, TraceCount("Stop asked while the dump is read"));
  Report("stopped run", LastLineWith("Stopped: ") + "; distinct burst messages at Orvex " + std::to_string(firstRun));

  StartListening();
  ASSERT_TRUE(WaitFor(120, [this] { return Bursts().size() == static_cast<size_t>(kBurst); }))
      << Bursts().size() << " of " << kBurst;
  EXPECT_EQ(0, StopListening(SIGTERM));
  int duplicates = 0;
  for (const auto& [number, count] : Bursts()) duplicates += count - 1;
  Report("restarted run", LastLineWith("Stopped: ") + "; distinct " + std::to_string(Bursts().size()) + ", sent twice " +
                              std::to_string(duplicates));
}

TEST_F(ZeltlistenCycleTest, CautilFailingForTwoCyclesAndThenWorkingDeliversEveryMessageOfThoseWindows) {
  const std::time_t now = std::time(nullptr);
  UseSavedWindow(now - 60);
  AddMessage(now - 30, "ABC_I_1: before the failures");
  // cautil cannot be started: it is not on the PATH.
  setenv("PATH", savedPath.c_str(), 1);
  StartListening();
  ASSERT_TRUE(WaitFor(30, [this] { return TraceCount("The window is kept for the next cycle") == 1; })) << Trace();
  EXPECT_EQ(0, StopListening(SIGTERM));
  EXPECT_EQ(1, TraceCount("Unable to Run the Current Log Query!"));
  EXPECT_NE(std::string::npos, LastCountsLine().find(", cautil failures 1")) << LastCountsLine();
  Report("cautil missing", LastCountsLine());

  // cautil ends without writing a dump.
  AddMessage(std::time(nullptr), "ABC_I_2: between the failures");
  setenv("PATH", (std::string(CAUTIL_FOLDER) + ":" + savedPath).c_str(), 1);
  setenv("CAUTIL_FAIL", "nodump", 1);
  StartListening();
  ASSERT_TRUE(WaitFor(30, [this] { return TraceCount("The window is kept for the next cycle") == 2; })) << Trace();
  EXPECT_EQ(0, StopListening(SIGTERM));
  EXPECT_NE(std::string::npos, LastCountsLine().find(", cautil failures 1")) << LastCountsLine();
  Report("cautil without a dump", LastCountsLine());
  EXPECT_EQ(0, RecordCount("failures"));

  unsetenv("CAUTIL_FAIL");
  AddMessage(std::time(nullptr), "ABC_I_3: after the failures");
  StartListening();
  ASSERT_TRUE(WaitFor(30, [this] { return RecordCount("the failures") == 3; })) << Record() << Trace();
  EXPECT_EQ(0, StopListening(SIGTERM));
  for (const char* text : {"before the failures", "between the failures", "after the failures"}) {
    EXPECT_EQ(1, RecordCount(text)) << text;
  }
  Report("cautil working", LastCountsLine());
}

TEST_F(ZeltlistenCycleTest, SigtermEndsAHangingCautilRunAndStillDrains) {
  UseSavedWindow(std::time(nullptr) - 60);
  setenv("CAUTIL_DELAY_MS", "600000", 1);
  const std::string dumpOption = "OUT=" + sandbox.Dir() + "/";
  StartListening();
  ASSERT_TRUE(WaitFor(30, [&] { return TestSandbox::ProcessRunningWith(dumpOption); })) << Trace();
  const auto stopAsked = std::chrono::steady_clock::now();
  EXPECT_EQ(0, StopListening(SIGTERM));
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::seconds(5));
  EXPECT_FALSE(TestSandbox::ProcessRunningWith(dumpOption));
  EXPECT_EQ(1, TraceCount("The cautil query was ended because the thread is stopping")) << Trace();
  EXPECT_EQ(1, TraceCount("Stopped: received 0, forwarded 0, queued 0"));
  EXPECT_EQ(1, RecordCount("unregisterInstrumentation\t"));
}

// A second run for the same agent, as a second `systemctl start` or a hand-started copy.
class ZeltlistenSecondRunTest : public ZeltlistenTest {};

TEST_F(ZeltlistenSecondRunTest, ASecondRunForTheSameAgentRefusesToStartAndTheFirstRunsOn) {
  StartListening();
  const pid_t second = fork();
  if (second == 0) {
    if (!freopen(sandbox.Path("second.out").c_str(), "w", stdout) ||
        !freopen(sandbox.Path("second.err").c_str(), "w", stderr))
      _exit(126);
    const std::string program = TestSandbox::BuildDir() + "/bin/zeltlisten";
    execl(program.c_str(), program.c_str(), "-e", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(second, 0);
  int status = 0;
  const bool ended = WaitFor(30, [&] { return waitpid(second, &status, WNOHANG) == second; });
  if (!ended) {
    kill(second, SIGKILL);
    waitpid(second, nullptr, 0);
  }
  ASSERT_TRUE(ended) << "the second run did not refuse to start\n" << Trace();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  const std::string lockPath = sandbox.Path("MarrowbyLstQueue.lock");
  const std::string refusal = "unable to lock " + lockPath + " (held by another process)";
  EXPECT_NE(std::string::npos, TestSandbox::ReadFile(sandbox.Path("second.err")).find(refusal));
  EXPECT_NE(std::string::npos, Trace().find("Unable to lock " + lockPath + " (held by another process)")) << Trace();

  EXPECT_EQ(0, waitpid(child, nullptr, WNOHANG)) << "the first run goes on";
  EXPECT_EQ(0, StopListening(SIGTERM));
  const int unregistered = RecordCount("unregisterInstrumentation\t");
  EXPECT_EQ(1, unregistered) << Record();
  EXPECT_EQ(1, RecordCount("registerInstrumentation\t") - unregistered) << "registered once\n" << Record();
}

}  // namespace
