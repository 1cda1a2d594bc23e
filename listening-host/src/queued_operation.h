// One indication waiting to be forwarded: the operation code, the identifier and the
// object stream, as narrow strings.
#pragma once
#include <windows.h>
#include <windef.h>

#include <cstdint>
#include <string>

struct QueuedOperation {
  LONG operation = 0;
  std::string id;
  std::string stream;
  // The journal offset just past this operation's record; 0 when it is not on disk.
  uint64_t journalEnd = 0;
};
