#include "reg_data.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace auralink::reg {

namespace {

struct NamedType {
  DWORD type;
  const char* name;
  bool writable;
};

constexpr NamedType kTypes[] = {
    {REG_NONE, "REG_NONE", false},         {REG_SZ, "REG_SZ", true},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ", true}, {REG_BINARY, "REG_BINARY", true},
    {REG_DWORD, "REG_DWORD", true},         {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN", false},
    {REG_LINK, "REG_LINK", false},          {REG_MULTI_SZ, "REG_MULTI_SZ", true},
    {REG_QWORD, "REG_QWORD", false},
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal or 0x hexadecimal, 0 to 4294967295; a negative decimal down to -2147483648 is
// taken as its 32-bit two's complement, so "-1" stores all bits set.
bool ParseNumber(std::string_view text, DWORD& number) {
  if (text.empty() || text.size() > 20) return false;
  const std::string digits(text);
  const bool negative = digits[0] == '-';
  const bool hex = !negative && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
  const char* start = digits.c_str() + (negative ? 1 : hex ? 2 : 0);
  // strtoull would also take blanks and a sign here.
  if (hex ? HexDigit(*start) < 0 : (*start < '0' || *start > '9')) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long magnitude = strtoull(start, &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0') return false;
  if (negative) {
    if (magnitude > 2147483648ULL) return false;
    number = static_cast<DWORD>(0 - magnitude);
  } else {
    if (magnitude > 0xFFFFFFFFULL) return false;
    number = static_cast<DWORD>(magnitude);
  }
  return true;
}

void AppendText(std::vector<BYTE>& data, std::string_view text) {
  data.insert(data.end(), text.begin(), text.end());
  data.push_back(0);
}

}  // namespace

bool TypeFromName(std::string_view name, DWORD& type) {
  for (const NamedType& known : kTypes) {
    if (known.writable && EqualsIgnoringCase(name, known.name)) {
      type = known.type;
      return true;
    }
  }
  return false;
}

std::string TypeName(DWORD type) {
  for (const NamedType& known : kTypes) {
    if (known.type == type) return known.name;
  }
  char name[24];
  snprintf(name, sizeof name, "REG_0x%x", static_cast<unsigned>(type));
  return name;
}

bool DataFromText(DWORD type, std::string_view text, std::string_view separator, std::vector<BYTE>& data,
                  std::string& reason) {
  data.clear();
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      AppendText(data, text);
      return true;
    case REG_DWORD: {
      DWORD number = 0;
      if (!text.empty() && !ParseNumber(text, number)) {
        reason = "\"" + std::string(text) + "\" is no 32-bit number (decimal, or hexadecimal with 0x)";
        return false;
      }
      for (int i = 0; i < 4; ++i) data.push_back(static_cast<BYTE>(number >> (8 * i)));
      return true;
    }
    case REG_MULTI_SZ: {
      const std::string_view between = separator.empty() ? std::string_view("\\0") : separator;
      // Each entry ends with a zero and the list with one more; an empty entry would end
      // the list early for every reader, so it is refused.
      while (!text.empty()) {
        const size_t at = text.find(between);
        const std::string_view entry = text.substr(0, at);
        if (entry.empty()) {
          reason = "a multi-string cannot hold an empty entry";
          return false;
        }
        AppendText(data, entry);
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + between.size());
        if (text.empty()) {
          reason = "a multi-string cannot hold an empty entry";
          return false;
        }
      }
      data.push_back(0);
      return true;
    }
    case REG_BINARY:
      if (text.size() % 2 != 0) {
        reason = "binary data needs an even number of hex digits";
        return false;
      }
      for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
          reason = "binary data takes only hex digits, \"" + std::string(text.substr(i, 2)) + "\" is none";
          return false;
        }
        data.push_back(static_cast<BYTE>(high << 4 | low));
      }
      return true;
    default:
      reason = "values of type " + TypeName(type) + " cannot be written";
      return false;
  }
}

std::string DataToText(DWORD type, const std::vector<BYTE>& data) {
  const char* bytes = reinterpret_cast<const char*>(data.data());
  if (type == REG_SZ || type == REG_EXPAND_SZ) return std::string(bytes, strnlen(bytes, data.size()));
  if (type == REG_DWORD && data.size() == 4) {
    const DWORD number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
    char text[16];
    snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(number));
    return text;
  }
  if (type == REG_MULTI_SZ) {
    std::string text;
    for (size_t at = 0; at < data.size() && data[at] != 0;) {
      const size_t length = strnlen(bytes + at, data.size() - at);
      if (!text.empty()) text += "\\0";
      text.append(bytes + at, length);
      at += length + 1;
    }
    return text;
  }
  std::string text;
  char pair[3];
  for (BYTE byte : data) {
    snprintf(pair, sizeof pair, "%02X", byte);
    text += pair;
  }
  return text;
}

}  // namespace auralink::reg
