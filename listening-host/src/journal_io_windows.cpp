// The journal's system calls on Windows: the C runtime's descriptors in binary mode, flushed
// to the disk with FlushFileBuffers, a rename that replaces its target as one step and
// reaches the disk before it returns, and a folder flushed through a handle of its own
// (the C runtime cannot open a folder).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>

#include "operation_journal.h"

namespace {

int SysOpen(const char* path, int flags, unsigned /*mode*/) {
  return ::_open(path, flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

long long SysWrite(int fd, const void* data, unsigned long long size) {
  const unsigned chunk = size > INT_MAX ? static_cast<unsigned>(INT_MAX) : static_cast<unsigned>(size);
  return ::_write(fd, data, chunk);
}

int SysFsync(int fd) {
  const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (file == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  if (FlushFileBuffers(file)) return 0;
  errno = EIO;
  return -1;
}

int SysFtruncate(int fd, long long size) { return ::_chsize_s(fd, size) == 0 ? 0 : -1; }

int SysRename(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  errno = EACCES;
  return -1;
}

int SysUnlink(const char* path) { return ::_unlink(path); }
int SysClose(int fd) { return ::_close(fd); }

int SysSyncFolder(const char* folder) {
  // Opening a folder needs FILE_FLAG_BACKUP_SEMANTICS; flushing one needs write access.
  const HANDLE handle = CreateFileA(folder, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ENOENT;
    return -1;
  }
  const BOOL flushed = FlushFileBuffers(handle);
  const DWORD error = flushed ? ERROR_SUCCESS : GetLastError();
  CloseHandle(handle);
  // A file system that cannot flush a folder has nothing more to offer; the journal would
  // otherwise refuse every operation once it emptied.
  if (flushed || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED) return 0;
  errno = EIO;
  return -1;
}

}  // namespace

const JournalIo& JournalIo::System() {
  static const JournalIo io{SysOpen, SysWrite, SysFsync, SysFtruncate, SysRename, SysUnlink, SysClose, SysSyncFolder};
  return io;
}
