// ExclusiveFileLock with LockFileEx: the lock belongs to the file handle, so it ends when
// the handle is closed, which the system does when the process ends. The handle is not
// inheritable, so a cautil child never holds it.
#include <windows.h>

#include "exclusive_file_lock.h"

#include <auralink/platform/error_text.h>

ExclusiveFileLock::~ExclusiveFileLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

int ExclusiveFileLock::Take(const std::string& path, std::string* reason) {
  if (handle_ != -1) return 1;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *reason = auralink::platform::ErrorMessageText(GetLastError());
    return 0;
  }
  OVERLAPPED whole = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    const DWORD error = GetLastError();
    *reason = error == ERROR_LOCK_VIOLATION ? "held by another process" : auralink::platform::ErrorMessageText(error);
    CloseHandle(file);
    return 0;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return 1;
}
