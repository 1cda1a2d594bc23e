#include <auralink/platform/text_format.h>

#ifndef _WIN32
#include <locale.h>
#endif

#include <cstdio>
#include <vector>

namespace auralink::platform {

#ifndef _WIN32
namespace {
// A UTF-8 character-type locale used only for the duration of one formatting call on the
// calling thread, so "%S" converts non-ASCII text instead of failing in the "C" locale.
locale_t Utf8Locale() {
  static locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return l;
  }();
  return locale;
}
}  // namespace
#endif

std::string FormatTextV(const char* format, va_list args) {
  if (!format) return std::string();
#ifndef _WIN32
  locale_t utf8 = Utf8Locale();
  locale_t previous = utf8 ? uselocale(utf8) : static_cast<locale_t>(0);
#endif
  char stackBuffer[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, copy);
  va_end(copy);
  std::string text;
  if (needed < 0) {
    text = format;  // an unconvertible argument: keep at least the format itself
  } else if (static_cast<size_t>(needed) < sizeof stackBuffer) {
    text.assign(stackBuffer, static_cast<size_t>(needed));
  } else {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
#ifndef _WIN32
  if (utf8) uselocale(previous);
#endif
  return text;
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

}  // namespace auralink::platform
