#include "model/xml_escape.h"

#include <cstdint>
#include <cstdio>

namespace auralink::model {

namespace {

void AppendCharRef(std::string& out, std::uint32_t codePoint) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "&#x%X;", static_cast<unsigned>(codePoint));
  out += buffer;
}

// Length of the well-formed UTF-8 sequence at the start of text, with its code point;
// 0 when the first byte does not start one (stray continuation, overlong form, surrogate,
// beyond U+10FFFF or cut short).
std::size_t DecodeUtf8(std::string_view text, std::uint32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length;
  std::uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i) & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF) return 0;
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
  return length;
}

bool IsPlain(unsigned char c) {
  return c >= 0x20 && c < 0x7F && c != '&' && c != '<' && c != '>' && c != '"' && c != '\'';
}

}  // namespace

void AppendXmlEscaped(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    // Printable ASCII that needs no escape, most of any text, is appended a run at a time.
    std::size_t run = i;
    while (run < text.size() && IsPlain(static_cast<unsigned char>(text[run]))) ++run;
    out.append(text.data() + i, run - i);
    i = run;
    if (i == text.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        case 0x7F: AppendCharRef(out, c); break;
        default:
          if (c < 0x20)
            AppendCharRef(out, 0x2400 + c);
          else
            out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    std::uint32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(text.substr(i), codePoint);
    if (length == 0) {
      AppendCharRef(out, 0xFFFD);
      ++i;
    } else if (codePoint == 0xFFFE || codePoint == 0xFFFF) {
      AppendCharRef(out, 0xFFFD);
      i += length;
    } else if (codePoint <= 0x9F) {
      AppendCharRef(out, codePoint);  // C1 controls: legal but invisible, so spelled out
      i += length;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
}

}  // namespace auralink::model
