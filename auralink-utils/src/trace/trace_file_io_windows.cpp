// The trace's system calls on Windows: the C runtime's descriptors in binary mode (a line
// ends in "\n" as on Linux), appending, and not inherited by child processes.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <climits>

#include "trace/trace_file_io.h"

namespace auralink::trace {

const TraceFileIo& TraceFileIo::System() {
  static const TraceFileIo io{
      [](const char* path, bool truncate) {
        return ::_open(path, _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT | (truncate ? _O_TRUNC : 0),
                       _S_IREAD | _S_IWRITE);
      },
      [](int fd, const void* data, unsigned long long size) -> long long {
        return ::_write(fd, data, static_cast<unsigned>(size > INT_MAX ? INT_MAX : size));
      },
      [](int fd) -> long long { return ::_filelengthi64(fd); },
      [](int fd) { return ::_close(fd); },
  };
  return io;
}

}  // namespace auralink::trace
