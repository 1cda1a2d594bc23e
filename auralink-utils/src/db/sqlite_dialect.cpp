#include "db/sqlite_dialect.h"

#include <dialect_function_names.h>

#include <cctype>
#include <optional>

namespace auralink::db {

namespace {

bool IsWordChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Length of the literal, quoted identifier or comment starting at `pos`, or 0 when none
// starts there. An unterminated one runs to the end of the text.
size_t OpaqueLength(std::string_view sql, size_t pos) {
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
  if (c == '-' && pos + 1 < sql.size() && sql[pos + 1] == '-') return until(pos + 2, "\n");
  if (c == '/' && pos + 1 < sql.size() && sql[pos + 1] == '*') return until(pos + 2, "*/");
  return 0;
}

size_t SkipBlanks(std::string_view sql, size_t pos) {
  for (;;) {
    while (pos < sql.size() && std::isspace(static_cast<unsigned char>(sql[pos]))) ++pos;
    if (pos < sql.size() && (sql[pos] == '-' || sql[pos] == '/') && OpaqueLength(sql, pos) > 0) {
      pos += OpaqueLength(sql, pos);
      continue;
    }
    return pos;
  }
}

size_t WordEnd(std::string_view sql, size_t pos) {
  while (pos < sql.size() && IsWordChar(sql[pos])) ++pos;
  return pos;
}

struct ConvertCall {
  const char* function;
  std::string_view argument;
  size_t end;  // just past the closing parenthesis
};

// Recognises "CONVERT ( type [ (n) ] , argument )" with `pos` just past the word CONVERT.
std::optional<ConvertCall> MatchConvert(std::string_view sql, size_t pos) {
  pos = SkipBlanks(sql, pos);
  if (pos >= sql.size() || sql[pos] != '(') return std::nullopt;
  pos = SkipBlanks(sql, pos + 1);
  size_t typeEnd = WordEnd(sql, pos);
  std::string_view type = sql.substr(pos, typeEnd - pos);
  const bool toBinary = EqualsIgnoringCase(type, "varbinary");
  if (!toBinary && !EqualsIgnoringCase(type, "uniqueidentifier")) return std::nullopt;
  ConvertCall call{};
  call.function = toBinary ? AURALINK_GUID_BINARY_FUNCTION : AURALINK_GUID_TEXT_FUNCTION;
  pos = SkipBlanks(sql, typeEnd);
  if (toBinary && pos < sql.size() && sql[pos] == '(') {
    size_t close = sql.find(')', pos);  // a length: "(16)" or "(max)"
    if (close == std::string_view::npos) return std::nullopt;
    pos = SkipBlanks(sql, close + 1);
  }
  if (pos >= sql.size() || sql[pos] != ',') return std::nullopt;
  size_t argumentStart = pos + 1;
  int depth = 0;
  for (size_t i = argumentStart; i < sql.size();) {
    if (size_t skip = OpaqueLength(sql, i)) {
      i += skip;
      continue;
    }
    char c = sql[i];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth == 0) {
        call.argument = sql.substr(argumentStart, i - argumentStart);
        call.end = i + 1;
        return call;
      }
      --depth;
    } else if (c == ',' && depth == 0) {
      return std::nullopt;  // a style argument: not a conversion the module provides
    }
    ++i;
  }
  return std::nullopt;
}

std::string_view Trim(std::string_view text) {
  size_t first = 0, last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

// Whether a "--" comment runs to the end of `text`: a closing parenthesis put right after
// it would be commented out.
bool EndsInLineComment(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    size_t skip = OpaqueLength(text, pos);
    if (skip == 0) {
      ++pos;
      continue;
    }
    if (pos + skip == text.size() && text[pos] == '-' && text.back() != '\n') return true;
    pos += skip;
  }
  return false;
}

}  // namespace

std::string TranslateConvertForSqlite(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 32);
  size_t pos = 0;
  while (pos < sql.size()) {
    if (size_t skip = OpaqueLength(sql, pos)) {
      out.append(sql.substr(pos, skip));
      pos += skip;
      continue;
    }
    if (!IsWordChar(sql[pos])) {
      out += sql[pos++];
      continue;
    }
    size_t end = WordEnd(sql, pos);
    std::string_view word = sql.substr(pos, end - pos);
    bool qualified = pos > 0 && sql[pos - 1] == '.';  // a column or function of that name
    if (!qualified && EqualsIgnoringCase(word, "convert")) {
      if (auto call = MatchConvert(sql, end)) {
        out += call->function;
        out += '(';
        std::string argument = TranslateConvertForSqlite(Trim(call->argument));
        if (EndsInLineComment(argument)) argument += '\n';
        out += argument;
        out += ')';
        pos = call->end;
        continue;
      }
    }
    out.append(word);
    pos = end;
  }
  return out;
}

bool IsSqliteDbms(std::string_view dbmsName) {
  return dbmsName.size() >= 6 && EqualsIgnoringCase(dbmsName.substr(0, 6), "sqlite");
}

}  // namespace auralink::db
