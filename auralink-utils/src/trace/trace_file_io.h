// The system calls through which the trace reaches its file, in a table that tests can
// replace to see what the trace asks of the system.
#pragma once

namespace auralink::trace {

struct TraceFileIo {
  int (*open)(const char* path, int flags, unsigned mode);
  long long (*write)(int fd, const void* data, unsigned long long size);
  long long (*size)(int fd);  // -1 when unknown
  int (*close)(int fd);

  static const TraceFileIo& System();
};

}  // namespace auralink::trace
