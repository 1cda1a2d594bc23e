// One ODBC connection, kept free of ODBC's own headers so that code which includes the
// Windows platform headers can use it (ODBC's headers define some of the same names).
#pragma once
#include <auralink/db_manager.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace auralink::db {

struct PreparedStatement;

enum class OdbcOutcome {
  Ok,
  Failed,    // the data source refused: diagnostics say why
  LinkLost,  // the connection itself is gone (SQLSTATE class 08, or reported dead)
};

class OdbcConnection {
 public:
  OdbcConnection();
  ~OdbcConnection();
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  // Connects to a data-source name, or through a connection string when `dataSource`
  // holds "=". Replaces an earlier connection.
  OdbcOutcome Connect(const std::string& dataSource, std::string& diagnostics);
  void Disconnect();
  bool IsConnected() const;

  // The DBMS as the driver names it ("SQLite", "Microsoft SQL Server", ...), and its version.
  const std::string& DbmsName() const { return dbmsName_; }
  const std::string& DbmsVersion() const { return dbmsVersion_; }

  // Compiles `sql` without running it (drivers that defer preparation accept anything).
  OdbcOutcome Prepare(const std::string& sql, std::string& diagnostics);
  // Runs `sql`; the rows of its first result set go to `receiver` as they are read and
  // `columns` names its columns (none for a statement without one). Unless the outcome
  // is Ok, `columns` may hold anything.
  OdbcOutcome Execute(const std::string& sql, DBManager::RowReceiver& receiver, std::vector<std::string>& columns,
                      std::string& diagnostics);

  // ---- Statements prepared once per shape (see statement_shape.h) ----------------------
  // A connection keeps at most PreparedStatements::kLimit of them, until it disconnects.

  // The statement kept for `shape`, or null.
  PreparedStatement* FindPrepared(std::string_view shape);
  // Prepares `sentText`, the shape as the data source is to get it, and describes its
  // result columns; on Ok `prepared` is the kept statement. Unless the outcome is Ok
  // nothing is kept and the caller sends the text itself.
  OdbcOutcome Prepare(std::string shape, std::string sentText, PreparedStatement*& prepared,
                      std::string& diagnostics);
  // Remembers a shape that the data source cannot prepare although it runs its texts, so
  // that its texts go out as they are without another try.
  void KeepUnprepared(std::string shape, std::string sentText);
  static bool IsPrepared(const PreparedStatement& prepared);
  static const std::string& SentText(const PreparedStatement& prepared);
  // Runs a prepared statement with `values` bound to its markers in order, as text exactly
  // as they are: rows and columns as Execute gives them for the whole text.
  OdbcOutcome Execute(PreparedStatement& prepared, const std::vector<std::string>& values,
                      DBManager::RowReceiver& receiver, std::vector<std::string>& columns, std::string& diagnostics);
  size_t PreparedCount() const;

  // Disconnects underneath while this object still believes itself connected, as a
  // dropped network link would. For tests of the recovery path.
  void BreakLinkForTesting();

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
  std::string dbmsName_;
  std::string dbmsVersion_;
};

}  // namespace auralink::db
