// Translation runs in two linear passes and never recurses, so that a text of deeply nested
// conversions costs time and memory in proportion to its length. The first pass pairs every
// parenthesis outside literals and comments and counts the commas directly inside each
// pair; the second copies the text, replacing each recognised CONVERT by the module's
// function and keeping a stack of the conversions it is inside.
#include "db/sqlite_dialect.h"

#include <dialect_function_names.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "db/sql_lexing.h"

namespace auralink::db {

namespace {

// One parenthesised group outside literals and comments, in the order of its "(".
struct Group {
  size_t open;
  size_t close = std::string_view::npos;  // npos when never closed
  unsigned commas = 0;                    // directly inside, counted up to 2
};

std::vector<Group> PairParentheses(std::string_view sql) {
  std::vector<Group> groups;
  std::vector<size_t> open;  // indexes into `groups`
  for (size_t pos = 0; pos < sql.size();) {
    char c = sql[pos];
    if (MayOpenOpaque(c)) {
      if (size_t skip = OpaqueLength(sql, pos)) {
        pos += skip;
        continue;
      }
    }
    if (c == '(') {
      open.push_back(groups.size());
      groups.push_back(Group{pos});
    } else if (c == ')' && !open.empty()) {
      groups[open.back()].close = pos;
      open.pop_back();
    } else if (c == ',' && !open.empty() && groups[open.back()].commas < 2) {
      ++groups[open.back()].commas;
    }
    ++pos;
  }
  return groups;
}

// The groups in text order, looked up at positions that only ever grow.
class GroupCursor {
 public:
  explicit GroupCursor(std::string_view sql) : groups_(PairParentheses(sql)) {}
  // The group whose "(" stands at `pos`, or null. Positions asked for never decrease.
  const Group* At(size_t pos) {
    while (next_ < groups_.size() && groups_[next_].open < pos) ++next_;
    return next_ < groups_.size() && groups_[next_].open == pos ? &groups_[next_] : nullptr;
  }

 private:
  std::vector<Group> groups_;
  size_t next_ = 0;
};

struct ConvertCall {
  const char* function;
  size_t argumentStart;  // the argument, blanks around it excluded
  size_t argumentEnd;
  size_t end;  // just past the closing parenthesis
};

// Recognises "CONVERT ( type [ (n) ] , argument )" with `pos` just past the word CONVERT.
std::optional<ConvertCall> MatchConvert(std::string_view sql, size_t pos, GroupCursor& groups) {
  pos = SkipBlanksAndComments(sql, pos);
  const Group* call = pos < sql.size() && sql[pos] == '(' ? groups.At(pos) : nullptr;
  if (!call || call->close == std::string_view::npos) return std::nullopt;
  pos = SkipBlanksAndComments(sql, pos + 1);
  size_t typeEnd = WordEnd(sql, pos);
  std::string_view type = sql.substr(pos, typeEnd - pos);
  const bool toBinary = EqualsIgnoringCase(type, "varbinary");
  if (!toBinary && !EqualsIgnoringCase(type, "uniqueidentifier")) return std::nullopt;
  pos = SkipBlanksAndComments(sql, typeEnd);
  if (toBinary && pos < sql.size() && sql[pos] == '(') {  // a length: "(16)" or "(max)"
    const Group* length = groups.At(pos);
    if (!length || length->close == std::string_view::npos) return std::nullopt;
    pos = SkipBlanksAndComments(sql, length->close + 1);
  }
  // One comma directly inside: a second one brings a style argument, which is not a
  // conversion the module provides.
  if (pos >= call->close || sql[pos] != ',' || call->commas != 1) return std::nullopt;
  size_t first = pos + 1, last = call->close;
  while (first < last && std::isspace(static_cast<unsigned char>(sql[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(sql[last - 1]))) --last;
  return ConvertCall{toBinary ? AURALINK_GUID_BINARY_FUNCTION : AURALINK_GUID_TEXT_FUNCTION, first, last,
                     call->close + 1};
}

// A conversion being copied: its argument ends at `argumentEnd`, the original text
// resumes at `resume`.
struct OpenCall {
  size_t argumentEnd;
  size_t resume;
};

}  // namespace

std::string TranslateConvertForSqlite(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 32);
  GroupCursor groups(sql);
  std::vector<OpenCall> calls;
  // Whether the text copied last is a "--" comment without its line end: a closing
  // parenthesis put right after it would be commented out.
  bool openLineComment = false;
  size_t pos = 0;
  for (;;) {
    const size_t limit = calls.empty() ? sql.size() : calls.back().argumentEnd;
    if (pos >= limit) {
      if (calls.empty()) return out;
      if (openLineComment) out += '\n';
      out += ')';
      openLineComment = false;
      pos = calls.back().resume;
      calls.pop_back();
      continue;
    }
    if (size_t skip = MayOpenOpaque(sql[pos]) ? OpaqueLength(sql, pos) : 0) {
      // A comment's line end may lie in the blanks trimmed off the argument.
      size_t length = std::min(skip, limit - pos);
      out.append(sql.substr(pos, length));
      openLineComment = IsLineComment(sql, pos) && sql[pos + length - 1] != '\n';
      pos += length;
      continue;
    }
    openLineComment = false;
    if (!IsSqlWordChar(sql[pos])) {
      // Copy the stretch up to the next word or literal in one piece.
      size_t end = pos + 1;
      while (end < limit && !IsSqlWordChar(sql[end]) && !MayOpenOpaque(sql[end])) ++end;
      out.append(sql.substr(pos, end - pos));
      pos = end;
      continue;
    }
    size_t end = WordEnd(sql, pos);
    std::string_view word = sql.substr(pos, end - pos);
    bool qualified = pos > 0 && sql[pos - 1] == '.';  // a column or function of that name
    if (!qualified && EqualsIgnoringCase(word, "convert")) {
      if (auto call = MatchConvert(sql, end, groups)) {
        out += call->function;
        out += '(';
        calls.push_back(OpenCall{call->argumentEnd, call->end});
        pos = call->argumentStart;
        continue;
      }
    }
    out.append(word);
    pos = end;
  }
}

bool IsSqliteDbms(std::string_view dbmsName) {
  return dbmsName.size() >= 6 && EqualsIgnoringCase(dbmsName.substr(0, 6), "sqlite");
}

}  // namespace auralink::db
