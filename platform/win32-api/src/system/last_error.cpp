// The per-thread last error, and how errno values map onto Win32 error codes.
#include <cerrno>
#include <cstring>

#include <auralink/platform/error_text.h>

#include "win32_result.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError(void) { return lastError; }

VOID WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

namespace auralink::platform {

namespace detail {

void SetLastErrorFromErrno(int errnoValue) { SetLastError(Win32ErrorFromErrno(errnoValue)); }

void SetLastErrorFromErrno() { SetLastErrorFromErrno(errno); }

DWORD CopyOutOrRequiredSize(std::string_view text, char* buffer, DWORD size) {
  if (buffer == nullptr || text.size() >= size) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return static_cast<DWORD>(text.size());
}

}  // namespace detail
}  // namespace auralink::platform
