// How zeltlisten learns that it should stop and drain: SIGTERM or SIGINT on Linux; Ctrl+C,
// Ctrl+Break, the console window closing, log-off or shut-down on Windows.
#pragma once

enum class StopWait { kStopped, kTimedOut, kFailed };

class StopSignals {
 public:
  // Construct before any other thread starts: on Linux the signals are blocked for every
  // thread (and ignored, so that the Java VM installs no handler of its own that would end
  // the process without a drain) and only Wait takes them.
  StopSignals();
  // On Windows a console-close, log-off or shut-down request waits for this: the system
  // ends the process as soon as the request's handler returns.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Waits up to `seconds` for a stop request. kStopped puts its number in *which (the
  // signal on Linux, the console control event on Windows).
  StopWait Wait(unsigned seconds, int* which);
};
