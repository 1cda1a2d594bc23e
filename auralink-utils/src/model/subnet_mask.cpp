#include <auralink/subnet_mask.h>

#include <cstdio>

namespace auralink::model {

std::optional<DWORD> ParseDottedQuad(std::string_view text) {
  DWORD value = 0;
  std::size_t pos = 0;
  for (int field = 0; field < 4; ++field) {
    if (field > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    unsigned number = 0;
    std::size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (++digits > 3) return std::nullopt;
      number = number * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    if (digits == 0 || number > 255) return std::nullopt;
    value = (value << 8) | number;
  }
  if (pos != text.size()) return std::nullopt;
  return value;
}

std::optional<DWORD> ParseSubnetMask(std::string_view text) {
  const auto mask = ParseDottedQuad(text);
  if (!mask || *mask == 0) return std::nullopt;
  // Ones then zeros: the inverted mask plus one is a power of two (or zero for all ones).
  const DWORD hostBits = ~*mask;
  if ((hostBits & (hostBits + 1)) != 0) return std::nullopt;
  return mask;
}

std::string FormatDottedQuad(DWORD value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", static_cast<unsigned>(value >> 24),
                static_cast<unsigned>((value >> 16) & 0xFF), static_cast<unsigned>((value >> 8) & 0xFF),
                static_cast<unsigned>(value & 0xFF));
  return buffer;
}

DWORD DefaultClassMask(DWORD address) {
  const DWORD first = address >> 24;
  if (first < 128) return 0xFF000000u;
  if (first < 192) return 0xFFFF0000u;
  return 0xFFFFFF00u;
}

}  // namespace auralink::model

int IsValidSubnetMask(const char* text) {
  if (!text) return 0;
  return auralink::model::ParseSubnetMask(text).has_value() ? 1 : 0;
}
