// printf-style formatting into a std::string. "%S" takes a wide (wchar_t) string and
// writes it in the narrow code page (on Linux UTF-8, whatever the process locale).
#pragma once
#include <cstdarg>
#include <string>

// mingw-w64 formats with its own C99 printf, which GCC checks as gnu_printf.
#ifdef _WIN32
#define AURALINK_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define AURALINK_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#endif

namespace auralink::platform {
std::string FormatText(const char* format, ...) AURALINK_PRINTF_FORMAT(1, 2);
std::string FormatTextV(const char* format, va_list args);
}  // namespace auralink::platform
