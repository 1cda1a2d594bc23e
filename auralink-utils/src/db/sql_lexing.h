// The lexical rules that the query translation and the statement shapes share: which
// bytes make words, and where a literal, quoted identifier or comment starts and ends.
// Both must agree on them, or a shape could take apart what the translation leaves whole.
#pragma once
#include <array>
#include <cstddef>
#include <string_view>

namespace auralink::db {

// Letters, digits, '_', '@', '#', '$' and every byte of a multi-byte character, looked up
// in a table: every query goes through here.
inline constexpr std::array<bool, 256> kSqlWordChars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '@' ||
               c == '#' || c == '$' || c >= 0x80;
  return table;
}();

inline bool IsSqlWordChar(char c) { return kSqlWordChars[static_cast<unsigned char>(c)]; }

// Whether a literal, quoted identifier or comment may start with `c`.
inline bool MayOpenOpaque(char c) { return c == '\'' || c == '"' || c == '[' || c == '-' || c == '/'; }

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// SQL keywords and type names are ASCII.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

inline bool IsLineComment(std::string_view sql, size_t pos) {
  return sql[pos] == '-' && pos + 1 < sql.size() && sql[pos + 1] == '-';
}

// Length of the literal ('…'), quoted identifier ("…", […]) or comment starting at `pos`,
// or 0 when none starts there. A doubled closing quote is part of the text. An
// unterminated one runs to the end of the text.
inline size_t OpaqueLength(std::string_view sql, size_t pos) {
  char c = sql[pos];
  auto until = [&](size_t from, std::string_view end) {
    size_t found = sql.find(end, from);
    return found == std::string_view::npos ? sql.size() - pos : found + end.size() - pos;
  };
  if (c == '\'' || c == '"' || c == '[') {
    char close = c == '[' ? ']' : c;
    size_t i = pos + 1;
    while (i < sql.size()) {
      if (sql[i] == close) {
        if (i + 1 < sql.size() && sql[i + 1] == close) {  // doubled: an escaped quote
          i += 2;
          continue;
        }
        return i + 1 - pos;
      }
      ++i;
    }
    return sql.size() - pos;
  }
  if (IsLineComment(sql, pos)) return until(pos + 2, "\n");
  if (c == '/' && pos + 1 < sql.size() && sql[pos + 1] == '*') return until(pos + 2, "*/");
  return 0;
}

// Past white space and comments from `pos`.
inline size_t SkipBlanksAndComments(std::string_view sql, size_t pos) {
  for (;;) {
    while (pos < sql.size() && (sql[pos] == ' ' || (sql[pos] >= '\t' && sql[pos] <= '\r'))) ++pos;
    if (pos < sql.size() && (sql[pos] == '-' || sql[pos] == '/') && OpaqueLength(sql, pos) > 0) {
      pos += OpaqueLength(sql, pos);
      continue;
    }
    return pos;
  }
}

// The end of the word that starts at `pos`.
inline size_t WordEnd(std::string_view sql, size_t pos) {
  while (pos < sql.size() && IsSqlWordChar(sql[pos])) ++pos;
  return pos;
}

}  // namespace auralink::db
