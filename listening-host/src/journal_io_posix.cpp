// The journal's system calls on Linux.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "operation_journal.h"

namespace {

int SysOpen(const char* path, int flags, unsigned mode) { return ::open(path, flags | O_CLOEXEC, mode); }
long long SysWrite(int fd, const void* data, unsigned long long size) { return ::write(fd, data, size); }
int SysFsync(int fd) { return ::fsync(fd); }
int SysFtruncate(int fd, long long size) { return ::ftruncate(fd, size); }
int SysRename(const char* from, const char* to) { return std::rename(from, to); }
int SysUnlink(const char* path) { return ::unlink(path); }
int SysClose(int fd) { return ::close(fd); }

int SysSyncFolder(const char* folder) {
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int synced = ::fsync(fd);
  ::close(fd);
  return synced;
}

}  // namespace

const JournalIo& JournalIo::System() {
  static const JournalIo io{SysOpen, SysWrite, SysFsync, SysFtruncate, SysRename, SysUnlink, SysClose, SysSyncFolder};
  return io;
}
