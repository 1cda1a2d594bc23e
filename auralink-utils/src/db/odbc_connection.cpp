#include "db/odbc_connection.h"

#include "db/odbc_diagnostics.h"
#include "db/odbc_handle.h"
#include "db/odbc_result_reader.h"

namespace auralink::db {

struct OdbcConnection::Handles {
  OdbcHandle environment;
  OdbcHandle connection;
  // One statement serves every query of the connection, closed after each: a walk makes
  // thousands of queries, and allocating and freeing a statement for each costs as much
  // as a tenth of the query.
  OdbcHandle statement;
  bool connected = false;

  // A statement goes before its connection, and a connection must be disconnected before
  // it is freed.
  ~Handles() {
    statement.Reset();
    if (connected) SQLDisconnect(connection.Get());
  }
};

namespace {

OdbcOutcome OutcomeOf(const OdbcDiagnostics& diagnostics) {
  return diagnostics.linkLost ? OdbcOutcome::LinkLost : OdbcOutcome::Failed;
}

std::string InfoText(SQLHDBC connection, SQLUSMALLINT item) {
  SQLCHAR text[256] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(connection, item, text, sizeof text, &length))) return "";
  return reinterpret_cast<const char*>(text);
}

SQLCHAR* SqlText(const std::string& text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())); }

// Runs `sql` on `statement` and reads its first result set.
OdbcOutcome ExecuteOn(SQLHSTMT statement, const std::string& sql, DBManager::RowReceiver& receiver,
                      std::vector<std::string>& columns, std::string& diagnostics) {
  SQLRETURN rc = SQLExecDirect(statement, SqlText(sql), SQL_NTS);
  if (rc == SQL_NO_DATA) {  // a searched UPDATE or DELETE that touched no row
    columns.clear();
    return OdbcOutcome::Ok;
  }
  if (!SQL_SUCCEEDED(rc)) {
    OdbcDiagnostics found = ReadDiagnostics(SQL_HANDLE_STMT, statement, rc);
    diagnostics = found.text;
    return OutcomeOf(found);
  }
  // A batch may report row counts before its result set: the first set with columns counts.
  for (;;) {
    OdbcDiagnostics found;
    if (!ReadResultSet(statement, receiver, columns, found)) {
      diagnostics = found.text;
      return OutcomeOf(found);
    }
    if (!columns.empty()) return OdbcOutcome::Ok;
    rc = SQLMoreResults(statement);
    if (rc == SQL_NO_DATA) return OdbcOutcome::Ok;
    if (!SQL_SUCCEEDED(rc)) {
      found = ReadDiagnostics(SQL_HANDLE_STMT, statement, rc);
      diagnostics = found.text;
      return OutcomeOf(found);
    }
  }
}

}  // namespace

OdbcConnection::OdbcConnection() = default;
OdbcConnection::~OdbcConnection() = default;

OdbcOutcome OdbcConnection::Connect(const std::string& dataSource, std::string& diagnostics) {
  Disconnect();
  auto handles = std::make_unique<Handles>();
  SQLRETURN rc = handles->environment.Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  if (!SQL_SUCCEEDED(rc)) {
    diagnostics = "cannot allocate an ODBC environment";
    return OdbcOutcome::Failed;
  }
  rc = SQLSetEnvAttr(handles->environment.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (SQL_SUCCEEDED(rc)) rc = handles->connection.Allocate(SQL_HANDLE_DBC, handles->environment.Get());
  if (!SQL_SUCCEEDED(rc)) {
    diagnostics = ReadDiagnostics(SQL_HANDLE_ENV, handles->environment.Get(), rc).text;
    return OdbcOutcome::Failed;
  }
  SQLHDBC connection = handles->connection.Get();
  if (dataSource.find('=') != std::string::npos) {
    rc = SQLDriverConnect(connection, nullptr, SqlText(dataSource), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  } else {
    rc = SQLConnect(connection, SqlText(dataSource), SQL_NTS, nullptr, 0, nullptr, 0);
  }
  if (!SQL_SUCCEEDED(rc)) {
    // A failed connect leaves nothing to disconnect; the handles free themselves.
    diagnostics = ReadDiagnostics(SQL_HANDLE_DBC, connection, rc).text;
    return OdbcOutcome::Failed;
  }
  handles->connected = true;
  dbmsName_ = InfoText(connection, SQL_DBMS_NAME);
  dbmsVersion_ = InfoText(connection, SQL_DBMS_VER);
  handles_ = std::move(handles);
  return OdbcOutcome::Ok;
}

void OdbcConnection::Disconnect() {
  handles_.reset();
  dbmsName_.clear();
  dbmsVersion_.clear();
}

bool OdbcConnection::IsConnected() const { return handles_ && handles_->connected; }

OdbcOutcome OdbcConnection::Prepare(const std::string& sql, std::string& diagnostics) {
  if (!IsConnected()) {
    diagnostics = "the connection is not open";
    return OdbcOutcome::LinkLost;
  }
  OdbcHandle statement;
  SQLRETURN rc = statement.Allocate(SQL_HANDLE_STMT, handles_->connection.Get());
  if (!SQL_SUCCEEDED(rc)) {
    OdbcDiagnostics found = ReadDiagnostics(SQL_HANDLE_DBC, handles_->connection.Get(), rc);
    diagnostics = found.text;
    return OutcomeOf(found);
  }
  rc = SQLPrepare(statement.Get(), SqlText(sql), SQL_NTS);
  if (!SQL_SUCCEEDED(rc)) {
    OdbcDiagnostics found = ReadDiagnostics(SQL_HANDLE_STMT, statement.Get(), rc);
    diagnostics = found.text;
    return OutcomeOf(found);
  }
  return OdbcOutcome::Ok;
}

OdbcOutcome OdbcConnection::Execute(const std::string& sql, DBManager::RowReceiver& receiver,
                                    std::vector<std::string>& columns, std::string& diagnostics) {
  if (!IsConnected()) {
    diagnostics = "the connection is not open";
    return OdbcOutcome::LinkLost;
  }
  SQLHDBC connection = handles_->connection.Get();
  // Drivers that watch their link say so before a statement is tried; the others answer
  // "not supported" here, and the statement itself finds out.
  SQLUINTEGER dead = SQL_CD_FALSE;
  if (SQL_SUCCEEDED(SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
      dead == SQL_CD_TRUE) {
    diagnostics = "the driver reports the connection dead";
    return OdbcOutcome::LinkLost;
  }
  OdbcHandle& statement = handles_->statement;
  if (!statement) {
    SQLRETURN rc = statement.Allocate(SQL_HANDLE_STMT, connection);
    if (!SQL_SUCCEEDED(rc)) {
      OdbcDiagnostics found = ReadDiagnostics(SQL_HANDLE_DBC, connection, rc);
      diagnostics = found.text;
      return OutcomeOf(found);
    }
  }
  OdbcOutcome outcome = ExecuteOn(statement.Get(), sql, receiver, columns, diagnostics);
  // Closing leaves the statement ready for the next query. Where even that fails, a fresh
  // statement is allocated next time.
  if (!SQL_SUCCEEDED(SQLFreeStmt(statement.Get(), SQL_CLOSE))) statement.Reset();
  return outcome;
}

void OdbcConnection::BreakLinkForTesting() {
  if (!IsConnected()) return;
  handles_->statement.Reset();  // a connection with a statement refuses to disconnect
  SQLDisconnect(handles_->connection.Get());
}

}  // namespace auralink::db
