// The system calls through which the trace reaches its file, in a table that tests can
// replace to see what the trace asks of the system. One file per system implements
// System(): trace_file_io_posix.cpp, trace_file_io_windows.cpp.
#pragma once

namespace auralink::trace {

struct TraceFileIo {
  // Opens `path` for appending (created when missing, emptied when `truncate`), in binary
  // mode and kept out of child processes; -1 on failure.
  int (*open)(const char* path, bool truncate);
  long long (*write)(int fd, const void* data, unsigned long long size);
  long long (*size)(int fd);  // -1 when unknown
  int (*close)(int fd);

  static const TraceFileIo& System();
};

}  // namespace auralink::trace
