// Kernel objects behind HANDLEs (processes, threads). A handle is a number in a table
// that owns a reference to its object; numbers are never reused, so a handle closed
// twice or made up is recognised and refused instead of touching freed memory.
#pragma once
#include <winbase.h>

#include <memory>

namespace auralink::platform::detail {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // WAIT_OBJECT_0 once signalled, WAIT_TIMEOUT when the time ran out first.
  virtual DWORD Wait(DWORD milliseconds) = 0;
};

// A thread as GetExitCodeThread sees it: our own threads and a child's primary thread.
class ThreadKernelObject : public KernelObject {
 public:
  // STILL_ACTIVE while the thread runs.
  virtual DWORD ExitCode() = 0;
};

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
// Null for unknown or closed handles.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// The object of the handle if it is of type T, else null and ERROR_INVALID_HANDLE.
template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  auto typed = std::dynamic_pointer_cast<T>(LookupHandle(handle));
  if (!typed) SetLastError(ERROR_INVALID_HANDLE);
  return typed;
}

}  // namespace auralink::platform::detail
