// The text of a trace line from its printf format and arguments, appended to a buffer.
// The conversions trace lines use (%s, %d, %u, %x, %c, %% with their length modifiers)
// are written directly; a conversion with flags, a width or a precision, and the floating
// ones, go through the C library one conversion at a time. "%S" (and "%ls") takes a wide
// string and writes it as UTF-8 whatever the process locale, as the platform's FormatText
// does, so a caller hands a BSTR over as it is instead of converting it first.
#pragma once
#include <cstdarg>
#include <string>

namespace auralink::trace {

void AppendFormatted(std::string& out, const char* format, va_list args);

// Appends the decimal digits of `value`.
void AppendDecimal(std::string& out, unsigned long long value);

}  // namespace auralink::trace
