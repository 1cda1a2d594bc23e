// Narrow/wide conversion with a hand-written UTF-8 codec: no locale, no iconv, one pass to
// count and one to write. Ill-formed UTF-8 becomes one U+FFFD per maximal ill-formed
// subsequence (the Unicode recommendation); surrogates and values past U+10FFFF in wide
// text become the replacement when encoded.
#include <oleauto.h>
#include <winbase.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <auralink/platform/text.h>

// The thread's last-error slot lives with the process functions; when those are not
// linked in (this area's own tests), failures are reported by the return value alone.
VOID WINAPI SetLastError(DWORD dwErrCode) __attribute__((weak));

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";

int Fail(DWORD error) {
  if (SetLastError) SetLastError(error);
  return 0;
}

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_MACCP || codePage == CP_THREAD_ACP ||
         codePage == CP_UTF8;
}

// Decodes UTF-8 into out (when kWrite) and returns the number of wide characters.
template <bool kWrite>
size_t DecodeUtf8(const char* text, size_t length, wchar_t* out, bool& invalid) {
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  size_t count = 0;
  size_t i = 0;
  while (i < length) {
    // Runs of ASCII, nearly all of the text that passes here, go eight bytes at a time.
    while (length - i >= 8) {
      uint64_t eight;
      std::memcpy(&eight, in + i, sizeof eight);
      if (eight & 0x8080808080808080ULL) break;
      if constexpr (kWrite) {
        for (size_t k = 0; k < 8; ++k) out[count + k] = static_cast<wchar_t>(in[i + k]);
      }
      i += 8;
      count += 8;
    }
    if (i == length) break;
    unsigned lead = in[i++];
    char32_t code = lead;
    if (lead >= 0x80) {
      // Continuation bytes are 80..BF except right after E0, ED, F0, F4, which exclude
      // overlong forms, surrogates and values past U+10FFFF.
      unsigned needed = 0;
      unsigned low = 0x80, high = 0xBF;
      if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1, code = lead & 0x1F;
      } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2, code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
      } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3, code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
      }
      unsigned got = 0;
      while (got < needed && i < length && in[i] >= low && in[i] <= high) {
        code = (code << 6) | (in[i++] & 0x3F);
        low = 0x80, high = 0xBF;
        ++got;
      }
      if (needed == 0 || got < needed) {
        invalid = true;
        code = kReplacement;
      }
    }
    if constexpr (kWrite) out[count] = static_cast<wchar_t>(code);
    ++count;
  }
  return count;
}

// Encodes wide text as UTF-8 into out (when kWrite) and returns the number of bytes.
template <bool kWrite>
size_t EncodeUtf8(const wchar_t* text, size_t length, char* out, std::string_view replacement, bool& invalid) {
  size_t count = 0;
  for (size_t i = 0; i < length; ++i) {
    // Runs of ASCII go four characters at a time.
    while (length - i >= 4 && (static_cast<uint32_t>(text[i]) | static_cast<uint32_t>(text[i + 1]) |
                               static_cast<uint32_t>(text[i + 2]) | static_cast<uint32_t>(text[i + 3])) < 0x80) {
      if constexpr (kWrite) {
        for (size_t k = 0; k < 4; ++k) out[count + k] = static_cast<char>(text[i + k]);
      }
      i += 4;
      count += 4;
    }
    if (i == length) break;
    auto code = static_cast<uint32_t>(text[i]);
    if (code < 0x80) {
      if constexpr (kWrite) out[count] = static_cast<char>(code);
      ++count;
      continue;
    }
    unsigned char bytes[4];
    size_t size = 0;
    if (code < 0x800) {
      bytes[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
      size = 1;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      size = 0;  // a surrogate alone means nothing in UTF-32
    } else if (code < 0x10000) {
      bytes[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
      bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      size = 2;
    } else if (code <= 0x10FFFF) {
      bytes[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
      bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      size = 3;
    }
    if (size == 0) {
      invalid = true;
      if constexpr (kWrite) std::memcpy(out + count, replacement.data(), replacement.size());
      count += replacement.size();
      continue;
    }
    bytes[size++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    if constexpr (kWrite) std::memcpy(out + count, bytes, size);
    count += size;
  }
  return count;
}

}  // namespace

extern "C" {

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
  if (!IsUtf8CodePage(CodePage) || !lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr))
    return Fail(ERROR_INVALID_PARAMETER);
  // Windows takes every negative length as -1: the text up to and with its terminator.
  size_t length = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  bool invalid = false;
  size_t needed = DecodeUtf8<false>(lpMultiByteStr, length, nullptr, invalid);
  if (invalid && (dwFlags & MB_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (needed > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
  if (cchWideChar == 0) return static_cast<int>(needed);
  if (needed > static_cast<size_t>(cchWideChar)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  DecodeUtf8<true>(lpMultiByteStr, length, lpWideCharStr, invalid);
  return static_cast<int>(needed);
}

// UTF-8 replaces what it cannot encode with U+FFFD and, as on Windows, takes no default
// character; the ANSI code pages use the default character ("?" unless given).
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  bool utf8 = CodePage == CP_UTF8;
  if (!IsUtf8CodePage(CodePage) || !lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && !lpMultiByteStr) || (utf8 && (lpDefaultChar || lpUsedDefaultChar)))
    return Fail(ERROR_INVALID_PARAMETER);
  std::string_view replacement = utf8 ? kUtf8Replacement : lpDefaultChar ? std::string_view(lpDefaultChar, 1) : "?";
  size_t length = cchWideChar < 0 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  bool invalid = false;
  size_t needed = EncodeUtf8<false>(lpWideCharStr, length, nullptr, replacement, invalid);
  if (lpUsedDefaultChar) *lpUsedDefaultChar = invalid ? TRUE : FALSE;
  if (invalid && (dwFlags & WC_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (needed > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
  if (cbMultiByte == 0) return static_cast<int>(needed);
  if (needed > static_cast<size_t>(cbMultiByte)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  EncodeUtf8<true>(lpWideCharStr, length, lpMultiByteStr, replacement, invalid);
  return static_cast<int>(needed);
}

}  // extern "C"

namespace auralink::platform {

// A wide string never has more characters than its UTF-8 form has bytes.
std::wstring ToWide(std::string_view narrow) {
  std::wstring wide(narrow.size(), L'\0');
  bool invalid = false;
  wide.resize(DecodeUtf8<true>(narrow.data(), narrow.size(), wide.data(), invalid));
  return wide;
}

std::string ToNarrow(std::wstring_view wide) {
  bool invalid = false;
  std::string narrow(EncodeUtf8<false>(wide.data(), wide.size(), nullptr, kUtf8Replacement, invalid), '\0');
  EncodeUtf8<true>(wide.data(), wide.size(), narrow.data(), kUtf8Replacement, invalid);
  return narrow;
}

std::string ToNarrow(const wchar_t* maybeNull) { return maybeNull ? ToNarrow(std::wstring_view(maybeNull)) : ""; }

BSTR AllocBstr(std::string_view narrow) {
  bool invalid = false;
  size_t length = DecodeUtf8<false>(narrow.data(), narrow.size(), nullptr, invalid);
  if (length > UINT_MAX) return nullptr;
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (bstr) DecodeUtf8<true>(narrow.data(), narrow.size(), bstr, invalid);
  return bstr;
}

std::string BstrToNarrow(BSTR bstr) { return bstr ? ToNarrow(std::wstring_view(bstr, SysStringLen(bstr))) : ""; }

}  // namespace auralink::platform
