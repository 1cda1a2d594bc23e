// ExclusiveFileLock with flock: the lock belongs to the open file, so it ends with the
// last descriptor of it. O_CLOEXEC keeps it out of child processes (cautil), which could
// otherwise hold it after the run died.
#include "exclusive_file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ExclusiveFileLock::~ExclusiveFileLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

int ExclusiveFileLock::Take(const std::string& path, std::string* reason) {
  if (handle_ >= 0) return 1;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return 0;
  }
  int locked = -1;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    *reason = errno == EWOULDBLOCK ? "held by another process" : std::strerror(errno);
    close(fd);
    return 0;
  }
  handle_ = fd;
  return 1;
}
