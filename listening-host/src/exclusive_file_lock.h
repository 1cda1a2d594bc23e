// An exclusive lock on a file, held while the object lives. The system releases it when
// the process ends in any way (a kill -9 too), so a dead run never leaves a stale lock;
// the file itself stays and means nothing without the lock.
//
// The system calls live in one file per system: exclusive_file_lock_posix.cpp (flock),
// exclusive_file_lock_windows.cpp (LockFileEx).
#pragma once
#include <cstdint>
#include <string>

class ExclusiveFileLock {
 public:
  ExclusiveFileLock() = default;
  ~ExclusiveFileLock();
  ExclusiveFileLock(const ExclusiveFileLock&) = delete;
  ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

  // Creates `path` when needed and locks it without waiting. 1 when the lock is held;
  // 0 otherwise, with `reason` saying why ("held by another process" or the system's
  // error text). Child processes started later do not inherit the lock.
  int Take(const std::string& path, std::string* reason);

 private:
  std::intptr_t handle_ = -1;
};
