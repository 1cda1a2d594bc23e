// The process-wide table of kernel-object handles, with CloseHandle and
// WaitForSingleObject, which work on any kind of kernel object.
#include "kernel_object.h"

#include <mutex>
#include <unordered_map>

namespace auralink::platform::detail {
namespace {

class HandleTable {
 public:
  HANDLE Add(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Multiples of 4 from 0x1000 on, like Windows handles: never NULL or
    // INVALID_HANDLE_VALUE, and never handed out twice.
    uintptr_t value = nextValue_;
    nextValue_ += 4;
    objects_.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
  }

  std::shared_ptr<KernelObject> Find(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return found == objects_.end() ? nullptr : found->second;
  }

  // The removed object, so that its destruction happens outside the lock.
  std::shared_ptr<KernelObject> Remove(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == objects_.end()) return nullptr;
    auto object = std::move(found->second);
    objects_.erase(found);
    return object;
  }

 private:
  std::mutex mutex_;
  uintptr_t nextValue_ = 0x1000;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects_;
};

HandleTable& Table() {
  // Never destroyed: detached threads may close handles while statics are torn down.
  static HandleTable* table = new HandleTable();
  return *table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) { return Table().Add(std::move(object)); }

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) { return Table().Find(handle); }

}  // namespace auralink::platform::detail

using namespace auralink::platform::detail;

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (!Table().Remove(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto object = LookupHandle(hHandle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return object->Wait(dwMilliseconds);
}
