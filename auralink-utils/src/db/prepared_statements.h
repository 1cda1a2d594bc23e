// The statements a connection keeps prepared, one per statement shape, with their result
// columns described once. At most a fixed number are kept: a shape not used for the
// longest time gives way to a new one, so a caller sending ever new texts cannot grow the
// connection without end. Belongs to one connection and goes before it disconnects.
#pragma once
#include "db/odbc_api.h"

#include <cstddef>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/odbc_handle.h"

namespace auralink::db {

struct PreparedStatement {
  std::string shape;     // the shape as the caller's text gives it: the key
  std::string sentText;  // the shape as the data source got it (translated for SQLite)
  // Null when the data source cannot prepare the shape although it runs the text itself
  // (a literal where no parameter may stand): such a shape is sent as text.
  OdbcHandle statement;
  std::vector<std::string> columns;
  std::vector<bool> binary;          // per column: described as binary, read as hexadecimal
  std::vector<SQLLEN> valueLengths;  // per marker, the bound value's length during a call
};

class PreparedStatements {
 public:
  static constexpr size_t kLimit = 64;

  // The statement of `shape`, made the most recently used; null when none is kept.
  PreparedStatement* Find(std::string_view shape);
  // Keeps `statement`, in place of an earlier one of the same shape; the least recently
  // used one goes when the limit is reached. The kept statement.
  PreparedStatement& Add(PreparedStatement statement);
  void Remove(PreparedStatement& statement);
  // Frees every statement (before the connection disconnects).
  void Clear();
  size_t Size() const { return byShape_.size(); }

 private:
  std::list<PreparedStatement> recency_;  // most recently used first
  std::unordered_map<std::string_view, std::list<PreparedStatement>::iterator> byShape_;  // views of `shape`
};

}  // namespace auralink::db
