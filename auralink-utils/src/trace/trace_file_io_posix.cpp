// The trace's system calls on Linux. O_APPEND puts every line at the end even when another
// process appends to the same file; O_CLOEXEC keeps the file out of cautil and other children.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trace/trace_file_io.h"

namespace auralink::trace {

const TraceFileIo& TraceFileIo::System() {
  static const TraceFileIo io{
      [](const char* path, bool truncate) {
        return ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_APPEND | (truncate ? O_TRUNC : 0), 0666);
      },
      [](int fd, const void* data, unsigned long long size) -> long long {
        return ::write(fd, data, static_cast<size_t>(size));
      },
      [](int fd) -> long long {
        struct stat status {};
        return ::fstat(fd, &status) == 0 ? static_cast<long long>(status.st_size) : -1;
      },
      [](int fd) { return ::close(fd); },
  };
  return io;
}

}  // namespace auralink::trace
