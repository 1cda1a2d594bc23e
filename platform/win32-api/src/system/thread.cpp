// CreateThread and the thread functions. A thread owns a reference to its kernel object,
// so closing the handle early neither ends the thread nor frees what it reports into.
#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <chrono>
#include <limits.h>
#include <memory>
#include <mutex>

#include "kernel_object.h"
#include "win32_result.h"

namespace auralink::platform::detail {
namespace {

class ThreadObject : public ThreadKernelObject {
 public:
  ThreadObject(LPTHREAD_START_ROUTINE routine, LPVOID parameter) : routine_(routine), parameter_(parameter) {}

  // The body of the new thread.
  void Run() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      id_ = GetCurrentThreadId();
    }
    changed_.notify_all();
    DWORD code = routine_(parameter_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exitCode_ = code;
      ended_ = true;
    }
    changed_.notify_all();
  }

  DWORD WaitForId() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return id_ != 0; });
    return id_;
  }

  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ended = [this] { return ended_; };
    if (milliseconds == INFINITE) {
      changed_.wait(lock, ended);
      return WAIT_OBJECT_0;
    }
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ended) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

  DWORD ExitCode() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_ ? exitCode_ : STILL_ACTIVE;
  }

 private:
  const LPTHREAD_START_ROUTINE routine_;
  const LPVOID parameter_;
  std::mutex mutex_;
  std::condition_variable changed_;
  DWORD id_ = 0;
  bool ended_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
};

void* ThreadEntry(void* argument) {
  // Take over the reference that CreateThread passed along.
  std::unique_ptr<std::shared_ptr<ThreadObject>> self(static_cast<std::shared_ptr<ThreadObject>*>(argument));
  (*self)->Run();
  return nullptr;
}

// Owns a pthread attribute object for the length of one call.
class ThreadAttributes {
 public:
  ThreadAttributes() { valid_ = pthread_attr_init(&attributes_) == 0; }
  ~ThreadAttributes() {
    if (valid_) pthread_attr_destroy(&attributes_);
  }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;
  bool Valid() const { return valid_; }
  pthread_attr_t* Get() { return &attributes_; }

 private:
  pthread_attr_t attributes_;
  bool valid_ = false;
};

}  // namespace
}  // namespace auralink::platform::detail

using namespace auralink::platform::detail;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (dwCreationFlags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  ThreadAttributes attributes;
  if (!attributes.Valid()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  pthread_attr_setdetachstate(attributes.Get(), PTHREAD_CREATE_DETACHED);
  if (dwStackSize != 0) {
    SIZE_T size = dwStackSize < static_cast<SIZE_T>(PTHREAD_STACK_MIN) ? PTHREAD_STACK_MIN : dwStackSize;
    pthread_attr_setstacksize(attributes.Get(), size);
  }

  auto thread = std::make_shared<ThreadObject>(lpStartAddress, lpParameter);
  auto reference = std::make_unique<std::shared_ptr<ThreadObject>>(thread);
  pthread_t id;
  int result = pthread_create(&id, attributes.Get(), ThreadEntry, reference.get());
  if (result != 0) {
    SetLastErrorFromErrno(result);
    return nullptr;
  }
  reference.release();  // now the new thread's
  DWORD threadId = thread->WaitForId();
  if (lpThreadId) *lpThreadId = threadId;
  return RegisterHandle(thread);
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = LookupHandleAs<ThreadKernelObject>(hThread);
  if (!thread) return FALSE;
  if (!lpExitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpExitCode = thread->ExitCode();
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(gettid()); }
