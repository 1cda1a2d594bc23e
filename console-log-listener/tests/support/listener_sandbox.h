// What the console-log tests share: a sandbox whose trace, registry, temporary folder (for
// the dumps) and console log are the test's own, with the stand-in `cautil` first on the
// PATH; and a polling thread that records what it indicates and runs on a clock the test
// can move.
#pragma once
#include <windows.h>
#include <atlbase.h>
#include <objbase.h>
#include <test_sandbox.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "hub_test_support.h"
#include "log_poll_thread.h"

namespace marrowby::testing {

class ListenerSandbox {
 public:
  ListenerSandbox();
  ~ListenerSandbox();
  ListenerSandbox(const ListenerSandbox&) = delete;
  ListenerSandbox& operator=(const ListenerSandbox&) = delete;

  // Appends one message to the console log that `cautil` reads.
  void AddMessage(std::time_t when, const std::string& node, const std::string& user, const std::string& text);
  // Sets (or, with null, removes) an environment variable, such as one for the stand-in
  // `cautil` (docs/console-log-listener.md).
  static void SetVariable(const char* name, const char* value);

  std::string Trace() const;
  // How often `text` occurs in the trace.
  int TraceCount(const std::string& text) const;
  // Dump files left in the temporary folder.
  int DumpFilesLeft() const;
  const auralink::testing::TestSandbox& Sandbox() const { return sandbox_; }

 private:
  auralink::testing::TestSandbox sandbox_;
  std::string savedPath_;
  std::string savedTmpdir_;
};

// A polling thread that keeps every stream it indicates.
class RecordingLog : public LogPollThrd {
 public:
  RecordingLog(const std::string& startMode, const std::string& msgFilter, const std::string& lastRefresh = "",
               DWORD msgNr = 0, LONG refreshTime = 1);
  ~RecordingLog() override { EndThread(); }

  // Keeps the stream, or refuses it (0) while SetRefusing(true) holds.
  int OnLogEvent(short operation, const std::string& opDummyStream, const std::string& opStream) override;
  std::vector<std::string> Streams();
  // Streams holding `text`.
  int StreamsWith(const std::string& text);

  // Stops the object's clock at `now`; 0 gives it the system clock again.
  void SetClock(std::time_t now) { clock_ = now; }
  // Refuses every indication, as a hub without a willing sink does.
  void SetRefusing(bool refusing) { refusing_ = refusing; }
  // How long a cautil run may take before it is ended (0: the class's own limit).
  void SetCautilTimeLimit(ULONGLONG milliseconds) { cautilLimit_ = milliseconds; }

  static constexpr const char* kStateKey = "SOFTWARE\\Kestrova\\Auralink\\TestAgent\\EventListening\\EventLogs\\Log1";

 protected:
  std::time_t CurrentTime() const override {
    std::time_t now = clock_;
    return now ? now : std::time(nullptr);
  }
  ULONGLONG CautilTimeLimitMs() const override {
    ULONGLONG limit = cautilLimit_;
    return limit ? limit : LogPollThrd::CautilTimeLimitMs();
  }

 private:
  std::atomic<std::time_t> clock_{0};
  std::atomic<bool> refusing_{false};
  std::atomic<ULONGLONG> cautilLimit_{0};
  std::mutex mutex_;
  std::vector<std::string> streams_;
};

// Calls one of the module's entry points (DllRegisterServer ...), loading the module the
// first time, with COM initialised for the process.
HRESULT CallModule(const char* entryPoint);
// The module's path as the system gives it, which is the one it registers (on Windows a
// drive letter and backslashes); loads it like CallModule.
std::string ModuleFile();

// A new object of the class registered under `progId`.
template <typename Interface>
HRESULT CreateByProgId(const wchar_t* progId, CComPtr<Interface>& object) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  return SUCCEEDED(hr) ? object.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER) : hr;
}

// What the registry holds, read as the agents read it: a string value ("<absent>" when it
// cannot be read), a number (all bits set when it cannot be read), and whether a key of
// HKEY_LOCAL_MACHINE exists.
std::string Text(const std::string& key, const char* name);
DWORD Number(const std::string& key, const char* name);
bool KeyExists(const std::string& path);

using auralink::testing::WaitFor;

}  // namespace marrowby::testing
