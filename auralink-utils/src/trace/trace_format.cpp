#include "trace/trace_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>

namespace auralink::trace {

namespace {

void AppendUtf8(std::string& out, char32_t code) {
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    const char bytes[] = {static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
    out.append(bytes, 2);
  } else if (code < 0x10000) {
    const char bytes[] = {static_cast<char>(0xE0 | (code >> 12)), static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                          static_cast<char>(0x80 | (code & 0x3F))};
    out.append(bytes, 3);
  } else {
    const char bytes[] = {static_cast<char>(0xF0 | (code >> 18)), static_cast<char>(0x80 | ((code >> 12) & 0x3F)),
                          static_cast<char>(0x80 | ((code >> 6) & 0x3F)), static_cast<char>(0x80 | (code & 0x3F))};
    out.append(bytes, 4);
  }
}

void AppendWide(std::string& out, const wchar_t* text) {
  if (!text) {
    out += "(null)";
    return;
  }
  // ASCII, the common case, is copied in one pass into room made beforehand; from the first
  // other character on, each is encoded on its own.
  const size_t length = std::wcslen(text);
  const size_t start = out.size();
  out.resize(start + length);
  char* ascii = out.data() + start;
  size_t i = 0;
  for (; i < length && static_cast<char32_t>(text[i]) < 0x80; ++i) ascii[i] = static_cast<char>(text[i]);
  if (i == length) return;
  out.resize(start + i);
  for (; i < length; ++i) {
    auto code = static_cast<char32_t>(text[i]);
    // Where wchar_t is UTF-16 (Windows) a character above U+FFFF is a surrogate pair; an
    // unpaired surrogate, like any surrogate in 32-bit wchar_t text, becomes U+FFFD.
    if constexpr (sizeof(wchar_t) == 2) {
      const auto next = static_cast<char32_t>(text[i + 1]);  // the terminator at worst
      if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(out, code);
  }
}

void AppendHex(std::string& out, unsigned long long value, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char buffer[16];
  char* end = buffer + sizeof buffer;
  char* p = end;
  do {
    *--p = digits[value & 0xF];
    value >>= 4;
  } while (value);
  out.append(p, static_cast<size_t>(end - p));
}

void AppendSigned(std::string& out, long long value) {
  if (value < 0) {
    out += '-';
    AppendDecimal(out, 0ULL - static_cast<unsigned long long>(value));
  } else {
    AppendDecimal(out, static_cast<unsigned long long>(value));
  }
}

enum class Length { None, Char, Short, Long, LongLong, LongDouble, IntMax, Size, PtrDiff };

// One conversion with flags, width or precision, written by the C library. `directive` holds it
// with any "*" already replaced by its number.
template <class Value>
void AppendThroughLibrary(std::string& out, const char* directive, Value value) {
  char small[128];
  const int needed = std::snprintf(small, sizeof small, directive, value);
  if (needed < 0) return;
  if (static_cast<size_t>(needed) < sizeof small) {
    out.append(small, static_cast<size_t>(needed));
    return;
  }
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(needed) + 1);
  std::snprintf(out.data() + start, static_cast<size_t>(needed) + 1, directive, value);
  out.resize(start + static_cast<size_t>(needed));
}

}  // namespace

void AppendDecimal(std::string& out, unsigned long long value) {
  char buffer[24];
  char* end = buffer + sizeof buffer;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  out.append(p, static_cast<size_t>(end - p));
}

void AppendFormatted(std::string& out, const char* format, va_list args) {
  if (!format) return;
  const char* p = format;
  for (;;) {
    const char* percent = std::strchr(p, '%');
    if (!percent) {
      out.append(p);
      return;
    }
    out.append(p, static_cast<size_t>(percent - p));
    p = percent + 1;

    // Flags, width and precision as the C library would take them, with "*" resolved.
    char prefix[48] = "%";
    size_t prefixLength = 1;
    auto add = [&](char c) {
      if (prefixLength + 1 < sizeof prefix) prefix[prefixLength++] = c;
    };
    auto addNumber = [&](int n) {
      char digits[16];
      const int written = std::snprintf(digits, sizeof digits, "%d", n);
      for (int i = 0; i < written; ++i) add(digits[i]);
    };
    while (*p && std::strchr("-+ #0'", *p)) add(*p++);
    if (*p == '*') {
      int width = va_arg(args, int);
      if (width < 0) {
        add('-');
        width = -width;
      }
      addNumber(width);
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') add(*p++);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        const int precision = va_arg(args, int);
        ++p;
        if (precision >= 0) {  // a negative precision counts as none
          add('.');
          addNumber(precision);
        }
      } else {
        add('.');
        while (*p >= '0' && *p <= '9') add(*p++);
      }
    }
    const bool plain = prefixLength == 1;
    Length length = Length::None;
    if (*p == 'h') {
      ++p;
      length = Length::Short;
      if (*p == 'h') {
        ++p;
        length = Length::Char;
      }
    } else if (*p == 'l') {
      ++p;
      length = Length::Long;
      if (*p == 'l') {
        ++p;
        length = Length::LongLong;
      }
    } else if (*p == 'L') {
      ++p;
      length = Length::LongDouble;
    } else if (*p == 'q') {
      ++p;
      length = Length::LongLong;
    } else if (*p == 'j') {
      ++p;
      length = Length::IntMax;
    } else if (*p == 'z' || *p == 'Z') {
      ++p;
      length = Length::Size;
    } else if (*p == 't') {
      ++p;
      length = Length::PtrDiff;
    }
    const char conversion = *p;
    if (!conversion) {
      out.append(percent);  // an unfinished conversion at the end stays as written
      return;
    }
    ++p;
    // The prefix followed by `tail`, for the C library.
    auto directive = [&](const char* tail) {
      std::string text(prefix, prefixLength);
      text += tail;
      return text;
    };

    switch (conversion) {
      case '%':
        out += '%';
        break;
      case 'd':
      case 'i': {
        long long value;
        switch (length) {
          case Length::Long: value = va_arg(args, long); break;
          case Length::LongLong: value = va_arg(args, long long); break;
          case Length::IntMax: value = va_arg(args, intmax_t); break;
          case Length::Size:
          case Length::PtrDiff: value = va_arg(args, ptrdiff_t); break;
          case Length::Char: value = static_cast<signed char>(va_arg(args, int)); break;
          case Length::Short: value = static_cast<short>(va_arg(args, int)); break;
          default: value = va_arg(args, int); break;
        }
        if (plain)
          AppendSigned(out, value);
        else
          AppendThroughLibrary(out, directive("lld").c_str(), value);
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        unsigned long long value;
        switch (length) {
          case Length::Long: value = va_arg(args, unsigned long); break;
          case Length::LongLong: value = va_arg(args, unsigned long long); break;
          case Length::IntMax: value = va_arg(args, uintmax_t); break;
          case Length::Size: value = va_arg(args, size_t); break;
          case Length::PtrDiff: value = static_cast<unsigned long long>(va_arg(args, ptrdiff_t)); break;
          case Length::Char: value = static_cast<unsigned char>(va_arg(args, unsigned)); break;
          case Length::Short: value = static_cast<unsigned short>(va_arg(args, unsigned)); break;
          default: value = va_arg(args, unsigned); break;
        }
        if (plain && conversion == 'u') {
          AppendDecimal(out, value);
        } else if (plain && conversion != 'o') {
          AppendHex(out, value, conversion == 'X');
        } else {
          const char tail[] = {'l', 'l', conversion, '\0'};
          AppendThroughLibrary(out, directive(tail).c_str(), value);
        }
        break;
      }
      case 'c':
      case 'C':
      case 's':
      case 'S': {
        const bool wide = conversion == 'S' || conversion == 'C' || length == Length::Long;
        std::string utf8;  // a wide argument as UTF-8
        const char* text;
        char single[2] = {0, 0};
        if (conversion == 'c' || conversion == 'C') {
          if (wide) {
            // A wint_t reaches the call promoted: to int where it is narrower (Windows), as itself
            // where it is not (Linux).
            using PromotedWint = std::conditional_t<(sizeof(wint_t) < sizeof(int)), int, wint_t>;
            const wchar_t both[2] = {static_cast<wchar_t>(va_arg(args, PromotedWint)), 0};
            AppendWide(utf8, both);
            text = utf8.c_str();
          } else {
            single[0] = static_cast<char>(va_arg(args, int));
            if (plain || single[0] == 0) {  // a NUL character is written as one, as printf does
              out.append(single, 1);
              break;
            }
            text = single;
          }
        } else if (wide) {
          const wchar_t* argument = va_arg(args, const wchar_t*);
          if (plain) {
            AppendWide(out, argument);
            break;
          }
          AppendWide(utf8, argument);
          text = utf8.c_str();
        } else {
          text = va_arg(args, const char*);
          if (!text) text = "(null)";
        }
        if (plain)
          out += text;
        else
          AppendThroughLibrary(out, directive("s").c_str(), text);
        break;
      }
      case 'p':
        AppendThroughLibrary(out, directive("p").c_str(), va_arg(args, void*));
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        const char tail[] = {'L', conversion, '\0'};
        if (length == Length::LongDouble)
          AppendThroughLibrary(out, directive(tail).c_str(), va_arg(args, long double));
        else
          AppendThroughLibrary(out, directive(tail + 1).c_str(), va_arg(args, double));
        break;
      }
      case 'n':
        (void)va_arg(args, void*);  // writes nothing into the caller's memory
        break;
      default:
        out.append(percent, static_cast<size_t>(p - percent));  // not a conversion: kept as written
        break;
    }
  }
}

}  // namespace auralink::trace
