#include "db/odbc_result_reader.h"

#include "db/odbc_api.h"

namespace auralink::db {

namespace {

bool IsBinaryType(SQLSMALLINT sqlType) {
  return sqlType == SQL_BINARY || sqlType == SQL_VARBINARY || sqlType == SQL_LONGVARBINARY;
}

void AppendHex(std::string& out, const unsigned char* bytes, size_t count) {
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < count; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0xF];
  }
}

// One column of the current row as text. SQLGetData hands out long values piece by piece,
// each call continuing where the last stopped.
bool ReadValue(SQLHSTMT statement, SQLUSMALLINT column, bool binary, std::string& value, OdbcDiagnostics& diagnostics) {
  value.clear();
  unsigned char buffer[4096];
  const SQLSMALLINT targetType = binary ? SQL_C_BINARY : SQL_C_CHAR;
  // A text piece ends with a terminating zero that is not part of the value.
  const SQLLEN capacity = binary ? SQLLEN{sizeof buffer} : SQLLEN{sizeof buffer - 1};
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(statement, column, targetType, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) return true;  // the previous piece was the last
    if (!SQL_SUCCEEDED(rc)) {
      diagnostics = ReadDiagnostics(SQL_HANDLE_STMT, statement, rc);
      return false;
    }
    if (indicator == SQL_NULL_DATA) return true;
    bool truncated = rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator > capacity);
    size_t piece = truncated ? static_cast<size_t>(capacity) : static_cast<size_t>(indicator);
    if (binary)
      AppendHex(value, buffer, piece);
    else
      value.append(reinterpret_cast<const char*>(buffer), piece);
    if (!truncated) return true;
  }
}

}  // namespace

bool DescribeResultColumns(SQLHSTMT statement, std::vector<std::string>& columns, std::vector<bool>& binary,
                           OdbcDiagnostics& diagnostics) {
  columns.clear();
  binary.clear();
  SQLSMALLINT count = 0;
  SQLRETURN rc = SQLNumResultCols(statement, &count);
  if (!SQL_SUCCEEDED(rc)) {
    diagnostics = ReadDiagnostics(SQL_HANDLE_STMT, statement, rc);
    return false;
  }
  for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(count); ++column) {
    SQLCHAR name[512] = {};
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    rc = SQLDescribeCol(statement, column, name, sizeof name, &nameLength, &sqlType, &size, &digits, &nullable);
    if (!SQL_SUCCEEDED(rc)) {
      diagnostics = ReadDiagnostics(SQL_HANDLE_STMT, statement, rc);
      return false;
    }
    columns.emplace_back(reinterpret_cast<const char*>(name));
    binary.push_back(IsBinaryType(sqlType));
  }
  return true;
}

bool ReadRows(SQLHSTMT statement, const std::vector<bool>& binary, DBManager::RowReceiver& receiver,
              OdbcDiagnostics& diagnostics) {
  if (binary.empty()) return true;
  const size_t count = binary.size();
  // One row object serves every row, its strings keeping their room from row to row.
  TabEntry row{std::vector<std::string>(count)};
  for (;;) {
    SQLRETURN rc = SQLFetch(statement);
    if (rc == SQL_NO_DATA) return true;
    if (!SQL_SUCCEEDED(rc)) {
      diagnostics = ReadDiagnostics(SQL_HANDLE_STMT, statement, rc);
      return false;
    }
    for (size_t i = 0; i < count; ++i) {
      if (!ReadValue(statement, static_cast<SQLUSMALLINT>(i + 1), binary[i], row[i], diagnostics)) return false;
    }
    if (!receiver.Row(row)) {
      diagnostics.text = "the reading of the result was stopped";
      return false;
    }
  }
}

bool ReadResultSet(SQLHSTMT statement, DBManager::RowReceiver& receiver, std::vector<std::string>& columns,
                   OdbcDiagnostics& diagnostics) {
  std::vector<bool> binary;
  return DescribeResultColumns(statement, columns, binary, diagnostics) &&
         ReadRows(statement, binary, receiver, diagnostics);
}

}  // namespace auralink::db
