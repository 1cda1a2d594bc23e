#include "poll/snapshot_reader.h"

#include "db/odbc_api.h"

#include "db/odbc_diagnostics.h"
#include "db/odbc_handle.h"
#include "db/odbc_result_reader.h"
#include "poll/identifier_text.h"

namespace auralink::poll {

using auralink::db::OdbcDiagnostics;
using auralink::db::OdbcHandle;
using auralink::db::ReadDiagnostics;

struct SnapshotReader::Handles {
  OdbcHandle environment;
  OdbcHandle connection;
  bool connected = false;

  // A connection handle must be disconnected before it is freed.
  ~Handles() {
    if (connected) SQLDisconnect(connection.Get());
  }
};

namespace {

SQLCHAR* SqlText(const std::string& text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())); }

bool IsBinary(SQLSMALLINT sqlType) {
  return sqlType == SQL_BINARY || sqlType == SQL_VARBINARY || sqlType == SQL_LONGVARBINARY;
}

}  // namespace

SnapshotReader::SnapshotReader() = default;
SnapshotReader::~SnapshotReader() = default;

bool SnapshotReader::IsConnected() const { return handles_ && handles_->connected; }

void SnapshotReader::Disconnect() { handles_.reset(); }

bool SnapshotReader::Connect(const std::string& dataSource, std::string& diagnostics) {
  Disconnect();
  auto handles = std::make_unique<Handles>();
  SQLRETURN rc = handles->environment.Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  if (!SQL_SUCCEEDED(rc)) {
    diagnostics = "cannot allocate an ODBC environment";
    return false;
  }
  rc = SQLSetEnvAttr(handles->environment.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (SQL_SUCCEEDED(rc)) rc = handles->connection.Allocate(SQL_HANDLE_DBC, handles->environment.Get());
  if (!SQL_SUCCEEDED(rc)) {
    diagnostics = ReadDiagnostics(SQL_HANDLE_ENV, handles->environment.Get(), rc).text;
    return false;
  }
  SQLHDBC connection = handles->connection.Get();
  if (dataSource.find('=') != std::string::npos)
    rc = SQLDriverConnect(connection, nullptr, SqlText(dataSource), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  else
    rc = SQLConnect(connection, SqlText(dataSource), SQL_NTS, nullptr, 0, nullptr, 0);
  if (!SQL_SUCCEEDED(rc)) {
    diagnostics = ReadDiagnostics(SQL_HANDLE_DBC, connection, rc).text;
    return false;
  }
  handles->connected = true;
  handles_ = std::move(handles);
  return true;
}

bool SnapshotReader::Read(const std::string& sql, bool identifiers, DBManager::RowReceiver& receiver,
                          std::string& diagnostics) {
  if (!IsConnected()) {
    diagnostics = "the connection is not open";
    return false;
  }
  OdbcHandle statement;
  SQLRETURN rc = statement.Allocate(SQL_HANDLE_STMT, handles_->connection.Get());
  if (!SQL_SUCCEEDED(rc)) {
    diagnostics = ReadDiagnostics(SQL_HANDLE_DBC, handles_->connection.Get(), rc).text;
    return false;
  }
  rc = SQLExecDirect(statement.Get(), SqlText(sql), SQL_NTS);
  if (!SQL_SUCCEEDED(rc)) {
    diagnostics = ReadDiagnostics(SQL_HANDLE_STMT, statement.Get(), rc).text;
    return false;
  }
  std::vector<size_t> binaryColumns;
  SQLSMALLINT count = 0;
  if (identifiers && SQL_SUCCEEDED(SQLNumResultCols(statement.Get(), &count))) {
    for (SQLSMALLINT column = 1; column <= count; ++column) {
      SQLSMALLINT sqlType = 0;
      SQLULEN size = 0;
      SQLSMALLINT digits = 0, nullable = 0;
      if (SQL_SUCCEEDED(SQLDescribeCol(statement.Get(), static_cast<SQLUSMALLINT>(column), nullptr, 0, nullptr, &sqlType,
                                       &size, &digits, &nullable)) &&
          IsBinary(sqlType))
        binaryColumns.push_back(static_cast<size_t>(column - 1));
    }
  }
  // Identifiers are turned into their text form on the way through, in a row kept for
  // that purpose, so that the receiver sees each row once and as it will keep it.
  struct IdentifierText final : DBManager::RowReceiver {
    DBManager::RowReceiver& next;
    const std::vector<size_t>& binaryColumns;
    TabEntry shown;
    IdentifierText(DBManager::RowReceiver& to, const std::vector<size_t>& binary) : next(to), binaryColumns(binary) {}
    void Restart() override { next.Restart(); }
    bool Row(const TabEntry& row) override {
      if (binaryColumns.empty()) return next.Row(row);
      shown = row;
      for (size_t column : binaryColumns)
        if (column < shown.GetSize()) HexToIdentifierText(shown[column]);
      return next.Row(shown);
    }
  } converter(receiver, binaryColumns);
  std::vector<std::string> columns;
  OdbcDiagnostics found;
  if (!auralink::db::ReadResultSet(statement.Get(), converter, columns, found)) {
    diagnostics = found.text;
    return false;
  }
  return true;
}

}  // namespace auralink::poll
