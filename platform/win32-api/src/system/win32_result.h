// Small helpers shared by the system functions for Windows-style results.
#pragma once
#include <winbase.h>

#include <string_view>

namespace auralink::platform::detail {

// Sets the last error from errno (or the given errno value).
void SetLastErrorFromErrno();
void SetLastErrorFromErrno(int errnoValue);

// The Windows convention of functions that fill a caller's buffer: when the text and its
// terminator fit, copy and answer the length without the terminator; otherwise leave the
// buffer alone and answer the size needed including the terminator.
DWORD CopyOutOrRequiredSize(std::string_view text, char* buffer, DWORD size);

}  // namespace auralink::platform::detail
