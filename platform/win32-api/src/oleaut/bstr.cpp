// BSTR: a 32-bit byte length, then the characters, then a terminating zero character. The
// BSTR points at the first character, so it reads as an ordinary wide C string while the
// prefix keeps embedded zeros.
#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);

uint32_t* PrefixOf(BSTR bstr) { return reinterpret_cast<uint32_t*>(bstr) - 1; }

// Room for byteLength bytes of text rounded up to whole characters, plus the terminator.
// Everything past the copied text is zero, so the string is always terminated.
BSTR AllocateBytes(const void* source, size_t byteLength) {
  if (byteLength > UINT32_MAX - 2 * sizeof(OLECHAR)) return nullptr;
  size_t textChars = (byteLength + sizeof(OLECHAR) - 1) / sizeof(OLECHAR);
  size_t total = kPrefixBytes + (textChars + 1) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(total));
  if (!block) return nullptr;
  uint32_t prefix = static_cast<uint32_t>(byteLength);
  std::memcpy(block, &prefix, kPrefixBytes);
  unsigned char* text = block + kPrefixBytes;
  if (source && byteLength) std::memcpy(text, source, byteLength);
  else std::memset(text, 0, byteLength);
  std::memset(text + byteLength, 0, total - kPrefixBytes - byteLength);
  return reinterpret_cast<BSTR>(text);
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return AllocateBytes(psz, std::wcslen(psz) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > UINT32_MAX / sizeof(OLECHAR)) return nullptr;
  return AllocateBytes(strIn, size_t{ui} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocateBytes(psz, len); }

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (!pbstr) return FALSE;
  // Allocate before freeing: psz may point into the old string.
  BSTR replacement = SysAllocString(psz);
  if (psz && !replacement) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = replacement;
  return TRUE;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(PrefixOf(bstrString));
}

UINT SysStringLen(BSTR pbstr) { return pbstr ? *PrefixOf(pbstr) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR bstr) { return bstr ? *PrefixOf(bstr) : 0; }

}  // extern "C"
