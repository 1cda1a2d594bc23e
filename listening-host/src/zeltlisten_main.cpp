// zeltlisten: runs the listeners of one agent and carries what they indicate to Orvex,
// until SIGTERM or SIGINT (on Windows Ctrl+C, Ctrl+Break or the console closing). "-i" listens for the instance agent, "-e" for the event agent.
// Exit status 0 after an orderly stop, 1 when the command line is wrong or the run could
// not start (among others because another run of the agent holds its lock file).
#include <auralink/agent_trace.h>
#include <auralink/cautil_failures.h>
#include <auralink/trace_utils.h>
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "adapter_forwarder.h"
#include "exclusive_file_lock.h"
#include "listening_host.h"
#include "stop_signals.h"

namespace {

constexpr const char* kComponent = "zeltlisten";
constexpr int kCountsIntervalSeconds = 60;
// What is still queued at a stop gets this long to reach Orvex; with the "file" store the
// rest waits on disk for the next start. Below the service manager's stop timeout.
constexpr DWORD kDrainMs = 30000;

void PrintUsage() {
  std::fputs("\nUsage: zeltlisten -i | -e\n\n", stdout);
  std::fputs("       -i   listen for the instance agent (QuillonLst)\n", stdout);
  std::fputs("       -e   listen for the event agent (MarrowbyLst)\n\n", stdout);
#ifdef _WIN32
  std::fputs("Runs until Ctrl+C, Ctrl+Break or the console closes.\n\n", stdout);
#else
  std::fputs("Runs until it receives SIGTERM or SIGINT.\n\n", stdout);
#endif
  std::fflush(stdout);
}

// The cautil failures are the console-log listener's (always 0 for the instance agent):
// each is a window the listener asks for again, so a rising count means Orvex lags behind.
void TraceCounts(const CListeningHost& host) {
  const OperationQueueCounts counts = host.Counts();
  CTraceUtils::GetInstance()->LogMsg(0, kComponent,
                                     "Indications received %llu, forwarded %llu, queued %llu, cautil failures %llu",
                                     counts.received, counts.forwarded, counts.queued, auralink::CautilFailureCount());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 2 ? argv[1] : "";
  if (mode == "-h" || mode == "--help") {
    PrintUsage();
    return 0;
  }
  if (mode != "-i" && mode != "-e") {
    PrintUsage();
    return 1;
  }
  const std::string agent = mode == "-i" ? "QuillonLst" : "MarrowbyLst";

  // Before any thread starts: the stop requests are taken by this thread only.
  StopSignals stopSignals;

  StartAgentTrace(agent);
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(0, kComponent, "Starting the listening run of %s", agent.c_str());
  // Before anything registers or touches the journal, and held until the process ends: a
  // second run would register the instrumentation again, deliver every indication twice
  // and write the journal and ack files with its own offsets.
  ExclusiveFileLock runLock;
  const std::string lockPath = CListeningHost::LockPath(agent);
  std::string lockFailure;
  if (!runLock.Take(lockPath, &lockFailure)) {
    trace->LogMsg(0, kComponent, "Unable to lock %s (%s); an agent has one listening run at a time", lockPath.c_str(),
                  lockFailure.c_str());
    std::fprintf(stderr, "zeltlisten: unable to lock %s (%s); an agent has one listening run at a time\n",
                 lockPath.c_str(), lockFailure.c_str());
    return 1;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    trace->LogMsg(0, kComponent, "The listening run won't start because CoInitializeEx failed");
    std::fputs("Listening process initialization failed\n", stdout);
    return 1;
  }

  int status = 0;
  {
    AdapterForwarder forwarder(agent);
    CListeningHost host(forwarder);
    if (!host.Start(agent)) {
      std::fputs("Listening process initialization failed\n", stdout);
      status = 1;
    } else {
      std::printf("Listening for %s\n", agent.c_str());
      std::fflush(stdout);
      int received = -1;
      StopWait waited = StopWait::kTimedOut;
      while (waited == StopWait::kTimedOut) {
        waited = stopSignals.Wait(kCountsIntervalSeconds, &received);
        if (waited == StopWait::kTimedOut) TraceCounts(host);
      }
      trace->LogMsg(0, kComponent, "Stopping on signal %d", received);
      TraceCounts(host);
      host.Stop(kDrainMs);
    }
  }
  CoUninitialize();
  trace->LogMsg(0, kComponent, "The listening run of %s ended", agent.c_str());
  return status;
}
