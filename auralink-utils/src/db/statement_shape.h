// The shape of a query: its text with the quoted literals of its conditions replaced by
// parameter markers. A walk sends the same few shapes again and again with only an
// identifier literal changing; the connection prepares each shape once and binds the
// literals' values, so the data source compiles and describes it once.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace auralink::db {

struct StatementShape {
  std::string text;                 // the query with "?" where each replaced literal stood
  std::vector<std::string> values;  // the literals' values in text order, doubled quotes undone
};

// Takes a query apart into its shape and values; false when it is to be sent as it is.
// Only a single SELECT without "?" markers of its own and without "*" in its select list
// is shaped, and only the '…' literals after its first top-level FROM become parameters:
// a literal in the select list names its column, and a literal glued to a word (N'…',
// X'…') is of another type. Literals, quoted names and comments follow the same rules as
// the dialect translation, and a literal never ends anywhere but at its closing quote.
bool ShapeStatement(std::string_view sql, StatementShape& shape);

// The text again from a shape (or from the shape as translated for the data source), each
// marker replaced by its value quoted as it was written. Markers are the "?" outside
// literals, quoted names and comments, in order.
std::string FillShape(std::string_view shape, const std::vector<std::string>& values);

}  // namespace auralink::db
