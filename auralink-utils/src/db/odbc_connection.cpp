#include "db/odbc_connection.h"

#include "db/odbc_diagnostics.h"
#include "db/odbc_handle.h"
#include "db/odbc_result_reader.h"
#include "db/prepared_statements.h"

#include <algorithm>

namespace auralink::db {

struct OdbcConnection::Handles {
  OdbcHandle environment;
  OdbcHandle connection;
  // One statement serves every query of the connection, closed after each: a walk makes
  // thousands of queries, and allocating and freeing a statement for each costs as much
  // as a tenth of the query.
  OdbcHandle statement;
  PreparedStatements prepared;
  bool connected = false;

  // Statements go before their connection, and a connection must be disconnected before
  // it is freed.
  ~Handles() {
    prepared.Clear();
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

// Drivers that watch their link say so before a statement is tried; the others answer
// "not supported" here, and the statement itself finds out.
bool ReportedDead(SQLHDBC connection) {
  SQLUINTEGER dead = SQL_CD_FALSE;
  return SQL_SUCCEEDED(SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
         dead == SQL_CD_TRUE;
}

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
  if (ReportedDead(connection)) {
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

PreparedStatement* OdbcConnection::FindPrepared(std::string_view shape) {
  return IsConnected() ? handles_->prepared.Find(shape) : nullptr;
}

OdbcOutcome OdbcConnection::Prepare(std::string shape, std::string sentText, PreparedStatement*& prepared,
                                    std::string& diagnostics) {
  prepared = nullptr;
  if (!IsConnected()) {
    diagnostics = "the connection is not open";
    return OdbcOutcome::LinkLost;
  }
  SQLHDBC connection = handles_->connection.Get();
  PreparedStatement entry;
  entry.shape = std::move(shape);
  entry.sentText = std::move(sentText);
  SQLRETURN rc = entry.statement.Allocate(SQL_HANDLE_STMT, connection);
  if (!SQL_SUCCEEDED(rc)) {
    OdbcDiagnostics found = ReadDiagnostics(SQL_HANDLE_DBC, connection, rc);
    diagnostics = found.text;
    return OutcomeOf(found);
  }
  rc = SQLPrepare(entry.statement.Get(), SqlText(entry.sentText), SQL_NTS);
  OdbcDiagnostics found;
  if (!SQL_SUCCEEDED(rc)) {
    found = ReadDiagnostics(SQL_HANDLE_STMT, entry.statement.Get(), rc);
  } else if (DescribeResultColumns(entry.statement.Get(), entry.columns, entry.binary, found) &&
             entry.columns.empty()) {
    found.text = "the statement describes no result columns";  // not a query: sent as text
  }
  if (!found.text.empty() || found.linkLost) {
    diagnostics = found.text;
    return OutcomeOf(found);
  }
  prepared = &handles_->prepared.Add(std::move(entry));
  return OdbcOutcome::Ok;
}

void OdbcConnection::KeepUnprepared(std::string shape, std::string sentText) {
  if (!IsConnected()) return;
  PreparedStatement entry;
  entry.shape = std::move(shape);
  entry.sentText = std::move(sentText);
  handles_->prepared.Add(std::move(entry));
}

bool OdbcConnection::IsPrepared(const PreparedStatement& prepared) { return static_cast<bool>(prepared.statement); }

const std::string& OdbcConnection::SentText(const PreparedStatement& prepared) { return prepared.sentText; }

size_t OdbcConnection::PreparedCount() const { return IsConnected() ? handles_->prepared.Size() : 0; }

OdbcOutcome OdbcConnection::Execute(PreparedStatement& prepared, const std::vector<std::string>& values,
                                    DBManager::RowReceiver& receiver, std::vector<std::string>& columns,
                                    std::string& diagnostics) {
  if (!IsConnected() || !prepared.statement) {
    diagnostics = "the connection is not open";
    return OdbcOutcome::LinkLost;
  }
  if (ReportedDead(handles_->connection.Get())) {
    diagnostics = "the driver reports the connection dead";
    return OdbcOutcome::LinkLost;
  }
  SQLHSTMT statement = prepared.statement.Get();
  // Each value goes as text of its exact length: the driver reads it at execution, and it
  // can never end the statement's text early or become part of it. The declared size is at
  // least 255, so that a server planning by parameter types sees one type for most values.
  prepared.valueLengths.resize(values.size());
  OdbcDiagnostics found;
  for (size_t i = 0; i < values.size() && found.text.empty(); ++i) {
    const std::string& value = values[i];
    prepared.valueLengths[i] = static_cast<SQLLEN>(value.size());
    SQLRETURN rc = SQLBindParameter(statement, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                                    SQL_VARCHAR, std::max<SQLULEN>(value.size(), 255), 0,
                                    const_cast<char*>(value.data()), static_cast<SQLLEN>(value.size()),
                                    &prepared.valueLengths[i]);
    if (!SQL_SUCCEEDED(rc)) found = ReadDiagnostics(SQL_HANDLE_STMT, statement, rc);
  }
  if (found.text.empty()) {
    SQLRETURN rc = SQLExecute(statement);
    if (rc == SQL_NO_DATA) {
      columns = prepared.columns;
    } else if (!SQL_SUCCEEDED(rc)) {
      found = ReadDiagnostics(SQL_HANDLE_STMT, statement, rc);
    } else {
      columns = prepared.columns;
      ReadRows(statement, prepared.binary, receiver, found);
    }
  }
  // Closing keeps the statement prepared for the next call. Where even that fails, the
  // statement goes, and the shape is prepared anew next time.
  if (!SQL_SUCCEEDED(SQLFreeStmt(statement, SQL_CLOSE))) handles_->prepared.Remove(prepared);
  if (found.text.empty() && !found.linkLost) return OdbcOutcome::Ok;
  diagnostics = found.text;
  return OutcomeOf(found);
}

void OdbcConnection::BreakLinkForTesting() {
  if (!IsConnected()) return;
  // A connection with statements refuses to disconnect.
  handles_->prepared.Clear();
  handles_->statement.Reset();
  SQLDisconnect(handles_->connection.Get());
}

}  // namespace auralink::db
