// One child process started by CreateProcessA: waiting for it, its exit code and
// ending it. Shared by the process handle and the primary-thread handle.
#pragma once
#include <sys/types.h>

#include <mutex>
#include <optional>

#include "kernel_object.h"

namespace auralink::platform::detail {

class ChildProcess {
 public:
  // pidFd: a pidfd of the child, or -1 when the kernel offers none (waits then poll).
  ChildProcess(pid_t pid, int pidFd);
  // A child still running is handed to the orphan reaper so it leaves no zombie.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  DWORD Wait(DWORD milliseconds);
  // STILL_ACTIVE while the child runs.
  DWORD ExitCode();
  // FALSE with ERROR_ACCESS_DENIED once the child has ended, as on Windows.
  BOOL Terminate(UINT exitCode);
  pid_t Pid() const { return pid_; }

 private:
  bool TryReap();  // with mutex_ held; true once the child has ended

  const pid_t pid_;
  const int pidFd_;
  std::mutex mutex_;
  bool ended_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
  std::optional<UINT> terminateCode_;
};

// Reaps children whose handles were closed before they ended.
void ReapOrphans();

}  // namespace auralink::platform::detail
