#include "poll/identifier_text.h"

#include <windows.h>
#include <guiddef.h>
#include <auralink/platform/guid_text.h>

namespace auralink::poll {

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

bool HexToIdentifierText(std::string& value) {
  if (value.size() != 32) return false;
  unsigned char bytes[16];
  for (size_t i = 0; i < 16; ++i) {
    int high = HexDigit(value[2 * i]), low = HexDigit(value[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  GUID guid;
  guid.Data1 = static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 | static_cast<DWORD>(bytes[2]) << 16 |
               static_cast<DWORD>(bytes[3]) << 24;
  guid.Data2 = static_cast<WORD>(bytes[4] | bytes[5] << 8);
  guid.Data3 = static_cast<WORD>(bytes[6] | bytes[7] << 8);
  for (size_t i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
  value = auralink::platform::GuidToString(guid, false);
  return true;
}

}  // namespace auralink::poll
