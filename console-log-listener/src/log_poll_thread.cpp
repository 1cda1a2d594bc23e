#include "log_poll_thread.h"

#include <auralink/cautil_failures.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>
#include <objbase.h>

#include <cstdlib>
#include <vector>

#include "console_log_time.h"
#include <auralink/platform/error_text.h>
#include <auralink/platform/module_path.h>

namespace {

constexpr const char* kComponent = "LogPollingThread";
constexpr const char* kLifecycleComponent = "LogPollThrd";
constexpr short kListenerEvent = 7;
constexpr DWORD kNapMilliseconds = 500;

CTraceUtils* Trace() { return CTraceUtils::GetInstance(); }

std::string LastErrorText() { return auralink::platform::LastErrorText(); }

// Each object gets its own dump file in the temporary folder (TMPDIR or /tmp): the
// module's folder is not writable in a system install, and several objects of one process
// (several logs, or a second Initialize) must not share a file. The short path form keeps
// blanks out of the `cautil` command line where the system has one.
std::string NewDumpPath() {
  static std::atomic<unsigned> lastNumber{0};
  char folder[MAX_PATH] = "";
  DWORD length = GetTempPathA(sizeof folder, folder);
  std::string directory = length > 0 && length < sizeof folder ? std::string(folder, length) : std::string("/tmp/");
  char shortForm[MAX_PATH] = "";
  length = GetShortPathNameA(directory.c_str(), shortForm, sizeof shortForm);
  if (length > 0 && length < sizeof shortForm) directory.assign(shortForm, length);
  if (!auralink::platform::IsPathSeparator(directory.back())) directory += auralink::platform::PathSeparator();
  return directory + "marrowby-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++lastNumber) + ".txt";
}

// Closes a kernel handle when it goes.
class HandleOwner {
 public:
  HandleOwner() = default;
  ~HandleOwner() {
    if (handle) CloseHandle(handle);
  }
  HandleOwner(const HandleOwner&) = delete;
  HandleOwner& operator=(const HandleOwner&) = delete;
  HANDLE handle = nullptr;
};

}  // namespace

LogPollThrd::LogPollThrd(std::string stateKey, LONG refreshTime, std::string lastRefresh, std::string startMode,
                         std::string msgFilter, DWORD msgNr)
    : stateKey(std::move(stateKey)),
      refreshTime(refreshTime),
      lastRefresh(std::move(lastRefresh)),
      startMode(std::move(startMode)),
      msgFilter(std::move(msgFilter)),
      msgNr(msgNr),
      dumpPath(NewDumpPath()) {}

LogPollThrd::~LogPollThrd() { EndThread(); }

void LogPollThrd::EndThread() {
  running = 0;
  Join();
}

std::time_t LogPollThrd::CurrentTime() const { return std::time(nullptr); }

int LogPollThrd::Start() {
  std::lock_guard<std::mutex> guard(lifecycle);
  if (running) {
    Trace()->LogMsg(1, kLifecycleComponent, "The Log Thread is already running");
    return 1;
  }
  if (thread) {  // stopped, but perhaps still finishing its cycle
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
  }
  Trace()->LogMsg(0, kLifecycleComponent, "Starting the Log Thread");
  running = 1;
  thread = CreateThread(nullptr, 0, &LogPollThrd::ThreadMain, this, 0, nullptr);
  if (!thread) {
    running = 0;
    Trace()->LogMsg(0, kLifecycleComponent, "Unable to create the Log Thread: %s", LastErrorText().c_str());
    return 1;
  }
  Sleep(100);
  Trace()->LogMsg(0, kLifecycleComponent, "Log Thread  started!");
  return 1;
}

void LogPollThrd::Stop() {
  std::lock_guard<std::mutex> guard(cycle);
  // The dump of the last OpenLog; between cycles CloseLog has already deleted it. During a
  // cycle the thread finishes with the dump and deletes it itself.
  if (!inCycle) {
    const char* path = dumpOpened ? dumpPath.c_str() : "";
    if (DeleteFileA(path)) {
      Trace()->LogMsg(3, kComponent, "Close Log successfull");
    } else {
      Trace()->LogMsg(0, kComponent, "Log File cannot not be closed: (exception: %s)", LastErrorText().c_str());
    }
  }
  Trace()->LogMsg(1, kLifecycleComponent, "The thread to listening to log is being terminated");
  running = 0;
}

bool LogPollThrd::BeginCycle() {
  std::lock_guard<std::mutex> guard(cycle);
  inCycle = running != 0;
  return inCycle;
}

void LogPollThrd::EndCycle() {
  std::lock_guard<std::mutex> guard(cycle);
  inCycle = false;
}

void LogPollThrd::Join() {
  std::lock_guard<std::mutex> guard(lifecycle);
  if (!thread) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  thread = nullptr;
}

DWORD WINAPI LogPollThrd::ThreadMain(LPVOID self) {
  // Events go to the hub's sinks from this thread, which joins the multithreaded apartment
  // to reach them.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  static_cast<LogPollThrd*>(self)->PollingCycle();
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

void LogPollThrd::PollingCycle() {
  Trace()->LogMsg(0, kComponent, "Polling Cycle entered.");
  ActionsAtStart();
  while (BeginCycle()) {
    const DWORD cycleStart = GetTickCount();
    NewCycleActions();
    // What SaveState writes only when the whole window reached the hub.
    const std::string windowStart = lastRefresh;
    const DWORD numberBefore = msgNr;

    if (removePending) IndicateRemove();
    bool ready = false;
    if (removePending) {
      Trace()->LogMsg(0, kComponent, "The remove action was not delivered; no query before it is");
    } else if (!PrepareCurrentLogQuery()) {
      Trace()->LogMsg(0, kComponent, "Unable to Prepare Current Log Query!");
    } else if (RunCurrentLogQuery()) {
      Trace()->LogMsg(3, kComponent,
                      "All events got for this refresh cycle. Wait a few milliseconds since cautil completed");
      ready = true;
      Sleep(kNapMilliseconds);
    } else {
      Trace()->LogMsg(0, kComponent, "Unable to Run the Current Log Query!");
    }

    const bool opened = OpenLog(dumpPath);
    if (opened) {
      Trace()->LogMsg(3, kComponent, "Open log for reading events successfull for log: %s", dumpPath.c_str());
    } else {
      Trace()->LogMsg(0, kComponent, "Unable to open the log: %s", dumpPath.c_str());
      if (ready) auralink::CountCautilFailure();  // cautil ended without writing a dump
    }
    // A dump found when the query failed is not this cycle's: its records are not read.
    const bool delivered = ready && opened && IndicateRecords();
    CloseLog();
    if (delivered) {
      SaveState();
    } else {
      lastRefresh = windowStart;
      msgNr = numberBefore;
      Trace()->LogMsg(1, kComponent, "The window is kept for the next cycle (LastRefresh %s, LastMsgNr %u)",
                      lastRefresh.c_str(), static_cast<unsigned>(msgNr));
    }
    EndCycle();
    Trace()->LogMsg(3, kComponent, "Sleeping...");
    SleepPhase(cycleStart);
  }
}

bool LogPollThrd::IndicateRecords() {
  while (GetNextLogEvent()) {
    if (!running) {
      Trace()->LogMsg(1, kComponent, "Stop asked while the dump is read: the rest of the window waits for the next start");
      return false;
    }
    Sleep(1);
    Trace()->LogMsg(3, kComponent, "GetNextLogEvent ok .. trying to process");
    std::string stream = marrowby::RecordEventStream(record);
    Trace()->LogMsg(3, kComponent, "_Event: %s", stream.c_str());
    if (!OnLogEvent(kListenerEvent, "", stream)) {
      Trace()->LogMsg(0, kComponent, "An event did not reach the hub; the window is asked for again in the next cycle");
      return false;
    }
  }
  // A dump not read to its end (a read error, memory exhausted) is asked for again.
  return dumpFile.eof() && !dumpFile.bad();
}

void LogPollThrd::SleepPhase(DWORD cycleStart) {
  const DWORD cycleSeconds = static_cast<DWORD>(refreshTime);
  for (LONG nap = 0; nap < 2 * refreshTime; ++nap) {
    if ((GetTickCount() - cycleStart) / 1000 >= cycleSeconds) return;
    if (!running) {
      Trace()->LogMsg(1, kComponent, "The thread to listening to log will be terminated");
      return;
    }
    Sleep(kNapMilliseconds);
  }
}

bool LogPollThrd::ActionsAtStart() {
  Trace()->LogMsg(0, kComponent, "ActionsAtStart");
  const std::time_t now = CurrentTime();
  dayEnd = marrowby::EndOfLocalDay(now);
  const bool cold = startMode == "cold";
  const bool warm = startMode == "warm";
  const bool byDate = msgFilter == "d";
  const bool all = msgFilter == "a";
  if ((cold && (byDate || all)) || (warm && all)) {
    IndicateRemove();
    msgNr = 0;
    if (cold && byDate) lastRefresh = std::to_string(static_cast<long long>(now));
  }
  return true;
}

bool LogPollThrd::NewCycleActions() {
  Trace()->LogMsg(3, kComponent, "NewCycleActions");
  const std::time_t now = CurrentTime();
  if (now > dayEnd) {
    if (msgFilter == "d") {
      IndicateRemove();
      msgNr = 0;
    }
    dayEnd = marrowby::EndOfLocalDay(now);
  }
  return true;
}

std::string LogPollThrd::GetLastRefreshedDate() {
  if (!lastRefresh.empty()) return marrowby::FormatDateText(static_cast<std::time_t>(std::atoi(lastRefresh.c_str())));
  std::string now = marrowby::FormatDateText(CurrentTime());
  Trace()->LogMsg(3, kComponent, "GetLastRefreshedDate: _LastRefresh is empty .. current date time got. (_LastRefresh: %s)",
                  now.c_str());
  return now;
}

const char* LogPollThrd::GetActFlag() const { return msgFilter == "a" ? "Y" : "N"; }

bool LogPollThrd::PrepareCurrentLogQuery() {
  const std::string start = GetLastRefreshedDate();
  const std::time_t now = CurrentTime();
  const std::string end = marrowby::FormatDateText(now);
  const bool known = startMode == "warm" || startMode == "cold";
  bool prepared = false;
  if (known && msgFilter == "d") {
    command = std::string("cautil SELECT CONLOG ACT=") + GetActFlag() + " START=(" + start + ") END=(" + end +
              ") LIST CONLOG OUT=" + dumpPath;
    prepared = true;
  } else if (known && msgFilter == "a") {
    command = std::string("cautil SELECT CONLOG ACT=") + GetActFlag() + " LIST CONLOG OUT=" + dumpPath;
    prepared = true;
  }
  lastRefresh = std::to_string(static_cast<long long>(now) + 1);
  return prepared;
}

bool LogPollThrd::RunCurrentLogQuery() {
  Trace()->LogMsg(3, kComponent, "Getting log events.");
  Trace()->LogMsg(3, kComponent, "cautil query: %s", command.c_str());
  // Whatever dump is found afterwards is then this run's.
  DeleteFileA(dumpPath.c_str());
  try {
    HandleOwner process;
    DWORD exitCode = 0;
    int rc = execProcess(command, 1, process.handle, exitCode);
    if (rc == 0) {
      Trace()->LogMsg(3, kComponent, "execProcess successfull (RC = %d)", static_cast<int>(exitCode));
      return true;
    }
    if (rc == kExecStopped || rc == kExecTimedOut) DeleteFileA(dumpPath.c_str());  // perhaps half written
    if (rc == kExecStopped) {
      Trace()->LogMsg(1, kComponent, "The cautil query was ended because the thread is stopping");
      return false;
    }
    if (rc == kExecTimedOut) {
      Trace()->LogMsg(0, kComponent, "The cautil query did not end within %llu seconds and was ended",
                      static_cast<unsigned long long>(CautilTimeLimitMs() / 1000));
    }
    Trace()->LogMsg(0, kComponent, "execProcess failed with RC = %d", rc);
  } catch (...) {
    Trace()->LogMsg(0, kComponent, "Unable to execute cautil query. An exception was generated");
  }
  auralink::CountCautilFailure();
  return false;
}

ULONGLONG LogPollThrd::CautilTimeLimitMs() const {
  constexpr ULONGLONG kLeastSeconds = 300;
  const ULONGLONG tenCycles = 10ull * static_cast<ULONGLONG>(refreshTime > 0 ? refreshTime : 0);
  return 1000ull * (tenCycles > kLeastSeconds ? tenCycles : kLeastSeconds);
}

int LogPollThrd::execProcess(const std::string& commandLine, int wait, HANDLE& process, DWORD& exitCode) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  std::vector<char> writableLine(commandLine.begin(), commandLine.end());
  writableLine.push_back('\0');
  Trace()->LogMsg(3, kComponent, "Calling Create Process to execute the cautil query");
  BOOL ok = CreateProcessA(nullptr, writableLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                           nullptr, &startup, &created);
  Trace()->LogMsg(3, kComponent, "Create Process returned");
  if (!ok) return kExecFailed;
  CloseHandle(created.hThread);  // only the process is waited for
  process = created.hProcess;
  if (wait != 1) return 0;
  // Waits in naps, so that a stop or a run past the limit ends the child.
  const ULONGLONG started = GetTickCount64();
  const ULONGLONG limit = CautilTimeLimitMs();
  for (;;) {
    const DWORD waited = WaitForSingleObject(process, kNapMilliseconds);
    if (waited == WAIT_OBJECT_0) break;
    if (waited == WAIT_FAILED) return kExecFailed;
    const bool stopping = !running;
    if (stopping || GetTickCount64() - started >= limit) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, INFINITE);
      return stopping ? kExecStopped : kExecTimedOut;
    }
  }
  GetExitCodeProcess(process, &exitCode);
  return 0;
}

bool LogPollThrd::CloseLog() {
  const bool wasOpen = dumpFile.is_open();
  dumpFile.clear();  // the end of the file set failbit; only the closing counts here
  if (wasOpen) dumpFile.close();
  const bool closed = !dumpFile.fail();
  dumpFile.clear();
  if (!closed) {
    Trace()->LogMsg(0, kComponent, "Log File cannot not be closed: (exception: %s)", "the file could not be closed");
    return false;
  }
  if (!DeleteFileA(dumpPath.c_str())) {
    Trace()->LogMsg(0, kComponent, "Log File cannot not be closed: (exception: %s)", LastErrorText().c_str());
    return false;
  }
  Trace()->LogMsg(3, kComponent, "Close Log successfull");
  return true;
}

void LogPollThrd::SaveState() {
  Trace()->LogMsg(3, kComponent, "Saving last refresh date");
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  if (!repository->SetStr(stateKey.c_str(), auralink::config::kLastRefresh, lastRefresh.c_str())) {
    Trace()->LogMsg(3, kComponent, "Saving last refesh date failed!");
    return;
  }
  if (!repository->SetNum(stateKey.c_str(), auralink::config::kLastMsgNr, msgNr)) {
    Trace()->LogMsg(3, kComponent, "Saving last message number failed!");
  }
}

bool LogPollThrd::IndicateAction(const std::string& action) {
  const std::string clock = marrowby::FormatClockText(CurrentTime());
  const std::string stream = marrowby::ActionEventStream(GetSecondsFromEpochGMT("", clock), action);
  Trace()->LogMsg(3, kComponent, "_Event: %s", stream.c_str());
  return OnLogEvent(kListenerEvent, "", stream) != 0;
}

void LogPollThrd::IndicateRemove() {
  removePending = !IndicateAction("remove");
  if (removePending) Trace()->LogMsg(0, kComponent, "The remove action did not reach the hub; it is sent again");
}
