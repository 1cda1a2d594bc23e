// printf-style formatting into a std::string. "%S" takes a wide (wchar_t) string and
// writes it as UTF-8, the narrow code page of this platform, whatever the process locale.
#pragma once
#include <cstdarg>
#include <string>

namespace auralink::platform {
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);
}  // namespace auralink::platform
