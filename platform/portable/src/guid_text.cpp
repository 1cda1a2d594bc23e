// Registry string forms of GUIDs.
#include <auralink/platform/guid_text.h>

#include <cstdio>

namespace auralink::platform {

std::string GuidToString(REFGUID g, bool withBraces) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(g.Data1), g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  if (!withBraces) return std::string(text);
  std::string braced(1, '{');
  braced.append(text).push_back('}');
  return braced;
}

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos]; false on any non-hex character.
bool ReadHex(std::string_view text, size_t pos, int digits, uint32_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    int v = HexValue(text[pos + i]);
    if (v < 0) return false;
    out = (out << 4) | static_cast<uint32_t>(v);
  }
  return true;
}
}  // namespace

bool GuidFromString(std::string_view text, GUID& guid) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return false;
  if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
  GUID g{};
  uint32_t v = 0;
  if (!ReadHex(text, 0, 8, v)) return false;
  g.Data1 = v;
  if (!ReadHex(text, 9, 4, v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(text, 14, 4, v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  static constexpr size_t kBytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  guid = g;
  return true;
}

}  // namespace auralink::platform
