#include "stop_signals.h"

#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <ctime>

namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

StopSignals::StopSignals() {
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Ignored but blocked, they still stay pending for sigtimedwait on Linux.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTERM, &ignore, nullptr);
  sigaction(SIGINT, &ignore, nullptr);
}

StopSignals::~StopSignals() = default;

StopWait StopSignals::Wait(unsigned seconds, int* which) {
  const sigset_t set = StopSet();
  const timespec interval{static_cast<time_t>(seconds), 0};
  for (;;) {
    const int received = sigtimedwait(&set, nullptr, &interval);
    if (received >= 0) {
      *which = received;
      return StopWait::kStopped;
    }
    if (errno == EAGAIN) return StopWait::kTimedOut;
    if (errno != EINTR) return StopWait::kFailed;
  }
}
