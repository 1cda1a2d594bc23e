// Case folding of registry names. Windows compares names by their upper-case form; the
// C.UTF-8 locale gives the same simple upper-case mapping for non-ASCII letters.
#include "registry_names.h"

#include <locale.h>
#include <wctype.h>

namespace auralink::platform::registry {

namespace {

locale_t Utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

// Decodes one UTF-8 sequence at text[pos]; 0 on a malformed or overlong sequence.
size_t DecodeUtf8(std::string_view text, size_t pos, char32_t& cp) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  size_t length;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[pos + i]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

void EncodeUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The faults that key and value names share.
const char* CharacterFault(std::string_view name) {
  if (name.find_first_of("\r\n") != std::string_view::npos) return "a name holds a line break";
  if (name.find('\0') != std::string_view::npos) return "a name holds a zero byte";
  return nullptr;
}

}  // namespace

std::string FoldName(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  for (size_t pos = 0; pos < name.size();) {
    const char c = name[pos];
    if (static_cast<unsigned char>(c) < 0x80) {
      folded += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      ++pos;
      continue;
    }
    char32_t cp = 0;
    const size_t length = DecodeUtf8(name, pos, cp);
    if (length == 0 || Utf8Locale() == static_cast<locale_t>(0)) {
      folded += c;
      ++pos;
      continue;
    }
    const auto upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), Utf8Locale()));
    EncodeUtf8(upper <= 0x10FFFF ? upper : cp, folded);
    pos += length;
  }
  return folded;
}

const char* KeyNameFault(std::string_view name) {
  if (name.empty()) return "a key name is empty";
  if (name.size() > kMaxKeyNameLength) return "a key name is longer than 255 bytes";
  if (name.find('\\') != std::string_view::npos) return "a key name holds a backslash";
  return CharacterFault(name);
}

const char* ValueNameFault(std::string_view name) {
  if (name.size() > kMaxValueNameLength) return "a value name is longer than 16383 bytes";
  return CharacterFault(name);
}

const char* AppendKeyPath(std::string_view path, std::vector<Name>& parts) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  std::vector<Name> added;
  while (true) {
    const size_t end = path.find('\\');
    const std::string_view part = path.substr(0, end);
    if (const char* fault = KeyNameFault(part)) return fault;
    if (parts.size() + added.size() == kMaxKeyDepth) return "the key is deeper than 512 levels";
    added.push_back(MakeName(part));
    if (end == std::string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  for (Name& name : added) parts.push_back(std::move(name));
  return nullptr;
}

}  // namespace auralink::platform::registry
