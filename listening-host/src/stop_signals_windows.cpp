#include <windows.h>

#include <atomic>

#include "stop_signals.h"

namespace {

HANDLE stopRequested = nullptr;  // manual reset: set once, seen by every later Wait
HANDLE drained = nullptr;        // set when the StopSignals object goes, after the drain
std::atomic<int> lastEvent{-1};

BOOL WINAPI OnConsoleControl(DWORD event) {
  int expected = -1;
  lastEvent.compare_exchange_strong(expected, static_cast<int>(event));
  SetEvent(stopRequested);
  // After these the system ends the process once the handler returns: hold it until the
  // queue has drained (the system's own time limit still applies).
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    WaitForSingleObject(drained, INFINITE);
  return TRUE;
}

}  // namespace

StopSignals::StopSignals() {
  stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  drained = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopSignals::~StopSignals() {
  SetEvent(drained);
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

StopWait StopSignals::Wait(unsigned seconds, int* which) {
  if (!stopRequested) return StopWait::kFailed;
  switch (WaitForSingleObject(stopRequested, seconds * 1000u)) {
    case WAIT_OBJECT_0: *which = lastEvent.load(); return StopWait::kStopped;
    case WAIT_TIMEOUT: return StopWait::kTimedOut;
    default: return StopWait::kFailed;
  }
}
