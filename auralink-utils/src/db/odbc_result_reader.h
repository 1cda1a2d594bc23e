// Reads a statement's result set into text rows: NULL becomes the empty text, binary
// columns become upper-case hexadecimal, long values are read in pieces.
#pragma once
#include <auralink/db_manager.h>
#include <sql.h>

#include <string>
#include <vector>

#include "db/odbc_diagnostics.h"

namespace auralink::db {

// How the driver hands out values.
struct ResultStyle {
  // SQLite's driver types a column by its declaration, so a binary value in an expression
  // column comes as text of the form X'0A1B'; such text is read as the binary value.
  bool blobLiterals = false;
};

// Reads every row of the current result set of `statement`. False with `diagnostics` set
// when a call fails.
bool ReadResultSet(SQLHSTMT statement, const ResultStyle& style, std::vector<TabEntry>& rows,
                   std::vector<std::string>& columns, OdbcDiagnostics& diagnostics);

}  // namespace auralink::db
