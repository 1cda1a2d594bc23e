// Reads a statement's result set into text rows: NULL becomes the empty text, columns that
// the driver describes as binary become upper-case hexadecimal, long values are read in
// pieces. Text columns come back exactly as stored, even text that looks like a binary
// literal (X'CAFE'); a binary value stored in a column declared as text comes in whatever
// text form the driver gives it.
#pragma once
#include <auralink/db_manager.h>
#include "db/odbc_api.h"

#include <string>
#include <vector>

#include "db/odbc_diagnostics.h"

namespace auralink::db {

// The names of the current result set's columns (or of a prepared statement's), and
// whether each is described as binary. False with `diagnostics` set when a call fails.
bool DescribeResultColumns(SQLHSTMT statement, std::vector<std::string>& columns, std::vector<bool>& binary,
                           OdbcDiagnostics& diagnostics);

// Hands the rows of the current result set to `receiver` one at a time; `binary` tells,
// per column, which are read as hexadecimal. False with `diagnostics` set when a call fails
// or the receiver stops.
bool ReadRows(SQLHSTMT statement, const std::vector<bool>& binary, DBManager::RowReceiver& receiver,
              OdbcDiagnostics& diagnostics);

// Reads the column names of the current result set of `statement` into `columns`, then
// hands its rows to `receiver` one at a time. False with `diagnostics` set when a call fails
// or the receiver stops.
bool ReadResultSet(SQLHSTMT statement, DBManager::RowReceiver& receiver, std::vector<std::string>& columns,
                   OdbcDiagnostics& diagnostics);

}  // namespace auralink::db
