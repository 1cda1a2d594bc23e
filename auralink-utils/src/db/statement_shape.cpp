// One linear pass over the text, as the dialect translation makes: no recursion, so a text
// nested thousands deep costs no more than its length.
#include "db/statement_shape.h"

#include <array>
#include <cctype>

#include "db/sql_lexing.h"

namespace auralink::db {

namespace {

// The bytes a scan has to stop at: where a literal, quoted name or comment may start, a
// "?" or ";", and (before FROM) what opens or closes parentheses, a "*", and words. Every
// other byte is passed over in a tight loop; every query sent goes through here.
constexpr std::array<bool, 256> StopTable(std::string_view stops, bool words) {
  std::array<bool, 256> table{};
  for (char c : stops) table[static_cast<unsigned char>(c)] = true;
  if (words)
    for (int c = 0; c < 256; ++c) table[c] = table[c] || kSqlWordChars[c];
  return table;
}
constexpr auto kStopsBeforeFrom = StopTable("'\"[-/?;*()", true);
constexpr auto kStopsAfterFrom = StopTable("'\"[-/?;", false);
constexpr auto kStopsInShape = StopTable("'\"[-/?", false);

size_t SkipTo(std::string_view sql, size_t pos, const std::array<bool, 256>& stops) {
  while (pos < sql.size() && !stops[static_cast<unsigned char>(sql[pos])]) ++pos;
  return pos;
}

// Whether the '…' literal of `length` bytes at `pos` ends at its own closing quote; one that
// runs to the end of the text does not.
bool IsClosedLiteral(std::string_view sql, size_t pos, size_t length) {
  const size_t end = pos + length;
  for (size_t i = pos + 1; i < end; ++i) {
    if (sql[i] != '\'') continue;
    if (i + 1 < end && sql[i + 1] == '\'') {
      ++i;
      continue;
    }
    return i + 1 == end;
  }
  return false;
}

// The value of a closed '…' literal: its quotes off, doubled quotes made single.
std::string LiteralValue(std::string_view literal) {
  std::string value;
  value.reserve(literal.size() - 2);
  for (size_t i = 1; i + 1 < literal.size(); ++i) {
    value += literal[i];
    if (literal[i] == '\'') ++i;  // the second of a doubled quote
  }
  return value;
}

void AppendQuoted(std::string& out, const std::string& value) {
  out += '\'';
  for (char c : value) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
}

}  // namespace

bool ShapeStatement(std::string_view sql, StatementShape& shape) {
  shape.text.clear();
  shape.values.clear();
  if (sql.find('\0') != std::string_view::npos) return false;  // the driver would see less
  size_t start = SkipBlanksAndComments(sql, 0);
  if (!EqualsIgnoringCase(sql.substr(start, WordEnd(sql, start) - start), "select")) return false;
  shape.text.reserve(sql.size());
  size_t depth = 0;
  bool afterFrom = false;
  size_t copied = 0;  // text before this is in the shape already
  for (size_t pos = 0;;) {
    pos = SkipTo(sql, pos, afterFrom ? kStopsAfterFrom : kStopsBeforeFrom);
    if (pos >= sql.size()) break;
    const char c = sql[pos];
    if (MayOpenOpaque(c)) {
      if (size_t length = OpaqueLength(sql, pos)) {
        if (c == '\'' && !IsClosedLiteral(sql, pos, length)) return false;
        if (c == '\'' && afterFrom && (pos == 0 || !IsSqlWordChar(sql[pos - 1]))) {
          shape.text.append(sql.substr(copied, pos - copied));
          shape.text += '?';
          shape.values.push_back(LiteralValue(sql.substr(pos, length)));
          copied = pos + length;
        }
        pos += length;
        continue;
      }
    }
    if (IsSqlWordChar(c)) {
      const size_t end = WordEnd(sql, pos);
      if (!afterFrom && depth == 0 && (pos == 0 || sql[pos - 1] != '.') &&
          EqualsIgnoringCase(sql.substr(pos, end - pos), "from"))
        afterFrom = true;
      pos = end;
      continue;
    }
    if (c == '?' || c == ';' || (c == '*' && !afterFrom)) return false;
    if (c == '(') ++depth;
    if (c == ')' && depth > 0) --depth;
    ++pos;
  }
  shape.text.append(sql.substr(copied));
  return true;
}

std::string FillShape(std::string_view shape, const std::vector<std::string>& values) {
  std::string out;
  size_t extra = 0;
  for (const std::string& value : values) extra += value.size() + 2;
  out.reserve(shape.size() + extra);
  size_t next = 0;    // the value the next marker takes
  size_t copied = 0;  // text before this is in `out` already
  for (size_t pos = 0;;) {
    pos = SkipTo(shape, pos, kStopsInShape);
    if (pos >= shape.size()) break;
    const char c = shape[pos];
    if (MayOpenOpaque(c)) {
      if (size_t length = OpaqueLength(shape, pos)) {
        pos += length;
        continue;
      }
    }
    if (c == '?' && next < values.size()) {
      out.append(shape.substr(copied, pos - copied));
      AppendQuoted(out, values[next++]);
      copied = pos + 1;
    }
    ++pos;
  }
  out.append(shape.substr(copied));
  return out;
}

}  // namespace auralink::db
