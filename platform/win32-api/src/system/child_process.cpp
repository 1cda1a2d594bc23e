#include "child_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>
#include <vector>

namespace auralink::platform::detail {
namespace {

using Clock = std::chrono::steady_clock;

class OrphanList {
 public:
  void Add(pid_t pid) {
    std::lock_guard<std::mutex> lock(mutex_);
    pids_.push_back(pid);
    SweepLocked();
  }
  void Sweep() {
    std::lock_guard<std::mutex> lock(mutex_);
    SweepLocked();
  }

 private:
  void SweepLocked() {
    std::erase_if(pids_, [](pid_t pid) {
      int status = 0;
      pid_t result = waitpid(pid, &status, WNOHANG);
      return result == pid || (result < 0 && errno == ECHILD);
    });
  }
  std::mutex mutex_;
  std::vector<pid_t> pids_;
};

OrphanList& Orphans() {
  static OrphanList* orphans = new OrphanList();  // never destroyed, see HandleTable
  return *orphans;
}

}  // namespace

ChildProcess::ChildProcess(pid_t pid, int pidFd) : pid_(pid), pidFd_(pidFd) {}

ChildProcess::~ChildProcess() {
  bool ended;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended = TryReap();
  }
  if (pidFd_ >= 0) close(pidFd_);
  if (!ended) Orphans().Add(pid_);
}

bool ChildProcess::TryReap() {
  if (ended_) return true;
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid_, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == 0) return false;
  ended_ = true;
  if (result < 0) {
    // Someone else reaped the child (or SIGCHLD is ignored): it has ended, its code is lost.
    exitCode_ = 0;
  } else if (WIFEXITED(status)) {
    exitCode_ = static_cast<DWORD>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status) && terminateCode_ && WTERMSIG(status) == SIGKILL) {
    exitCode_ = *terminateCode_;
  } else if (WIFSIGNALED(status)) {
    exitCode_ = 128u + static_cast<DWORD>(WTERMSIG(status));
  } else {
    exitCode_ = 0;
  }
  return true;
}

DWORD ChildProcess::Wait(DWORD milliseconds) {
  const bool forever = milliseconds == INFINITE;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
  auto nap = std::chrono::milliseconds(1);
  while (true) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (TryReap()) return WAIT_OBJECT_0;
    }
    long long left = 0;
    if (!forever) {
      left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return WAIT_TIMEOUT;
    }
    if (pidFd_ >= 0) {
      // The pidfd turns readable when the child ends; several waiters may poll at once.
      pollfd entry{pidFd_, POLLIN, 0};
      int timeout = forever ? -1 : static_cast<int>(std::min<long long>(left + 1, INT_MAX));
      poll(&entry, 1, timeout);
    } else {
      auto step = forever ? nap : std::min(nap, std::chrono::milliseconds(left));
      std::this_thread::sleep_for(step);
      nap = std::min(nap * 2, std::chrono::milliseconds(20));
    }
  }
}

DWORD ChildProcess::ExitCode() {
  std::lock_guard<std::mutex> lock(mutex_);
  TryReap();
  return exitCode_;
}

BOOL ChildProcess::Terminate(UINT exitCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (TryReap()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // Not reaped yet, so the pid is still ours and cannot name another process.
  terminateCode_ = exitCode;
  if (kill(pid_, SIGKILL) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

void ReapOrphans() { Orphans().Sweep(); }

}  // namespace auralink::platform::detail
