// The database connection of the utility library: one ODBC connection to a data source,
// SQL in, result rows of text out. Results follow one rule whatever the driver: every value
// is text, NULL is the empty text, the values of columns that the driver describes as binary
// are upper-case hexadecimal (other columns come as the driver gives them as text), and a
// column is named as the data source names it (an AS alias gives the name; a table prefix
// is not part of it).
//
// A data source whose DBMS is SQLite gets the SQL Server conversions CONVERT(uniqueidentifier,
// x) and CONVERT(varbinary, x) translated into the functions of Auralink's SQLite dialect
// module, so the same query texts serve a SQL Server repository and its local stand-in.
#pragma once
#include <compare>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace auralink::db {
class OdbcConnection;
}

// One result row: the row's values as text, column i at index i.
class TabEntry {
 public:
  TabEntry() = default;
  explicit TabEntry(std::vector<std::string> values) : values_(std::move(values)) {}

  size_t GetSize() const { return values_.size(); }
  // Column `index`; the empty text for a column that the row does not have.
  const std::string& GetAt(size_t index) const { return index < values_.size() ? values_[index] : Empty(); }
  const std::string& operator[](size_t index) const { return values_[index]; }
  std::string& operator[](size_t index) { return values_[index]; }
  void Add(std::string value) { values_.push_back(std::move(value)); }
  const std::vector<std::string>& Values() const { return values_; }

  friend bool operator==(const TabEntry&, const TabEntry&) = default;
  friend auto operator<=>(const TabEntry&, const TabEntry&) = default;

 private:
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }
  std::vector<std::string> values_;
};

// One connection, owned by one caller and used from one thread at a time; separate
// DBManager objects work on separate threads at once. Results are 0 on success and
// non-zero on failure; each failure writes a level-0 trace line (component "DBManager")
// with the ODBC diagnostics (SQLSTATE, native code and message).
class DBManager {
 public:
  // dataSource: an ODBC data-source name, or a full connection string when it holds "=".
  // initialQuery: a query that OpenDb prepares (without running it) to check that the data
  //   source serves the expected tables; null or empty skips the check.
  // callerText: the caller's string, or null; it receives the diagnostics of the most recent
  //   failure and is emptied by every success.
  // Nothing is opened here.
  DBManager(const char* dataSource, const char* initialQuery, std::string* callerText);
  ~DBManager();
  DBManager(const DBManager&) = delete;
  DBManager& operator=(const DBManager&) = delete;

  // Connects (replacing an open connection). Fails when the data source cannot be reached,
  // when a SQLite data source lacks the dialect module, or when the initial query is refused.
  int OpenDb();

  // Runs `sql` and replaces the contents of `rows` (one entry per result row) and `columns`
  // (one name per result column, in select-list order). Both are emptied on failure. Fails
  // when the connection is not open. A lost connection is reopened once, and the query run
  // again, before the failure is reported; a query that finds it still lost tries again.
  int MakeQuery(std::string sql, std::vector<TabEntry>& rows, std::vector<std::string>& columns);

  // Takes the rows of a query one at a time, as they are read, for results too large to be
  // held twice (a million identifiers on their way into an array).
  class RowReceiver {
   public:
    virtual ~RowReceiver() = default;
    // Before the first row of each attempt: a query run again after a lost connection
    // starts over, and what the earlier attempt handed over is to be dropped.
    virtual void Restart() = 0;
    // One row, valid during the call only. False stops the query, which then fails.
    virtual bool Row(const TabEntry& row) = 0;
  };

  // A receiver that keeps every row, for callers that want the whole result.
  class RowCollector final : public RowReceiver {
   public:
    explicit RowCollector(std::vector<TabEntry>& rows) : rows_(rows) {}
    void Restart() override { rows_.clear(); }
    bool Row(const TabEntry& row) override {
      rows_.push_back(row);
      return true;
    }

   private:
    std::vector<TabEntry>& rows_;
  };

  // MakeQuery that hands each row to `receiver` instead of collecting them. On failure the
  // rows handed over are to be dropped and `columns` is emptied.
  int MakeQuery(std::string sql, RowReceiver& receiver, std::vector<std::string>& columns);

  // Closes the connection; closing a closed one does nothing. Returns 0.
  int CloseDb();

  bool IsOpen() const;
  const std::string& GetDataSource() const { return dataSource_; }

 private:
  friend struct DBManagerTestAccess;  // lets unit tests cut the link underneath

  int Connect();
  int Fail(const std::string& diagnostics);
  void Succeed();

  std::string dataSource_;
  std::string traceName_;  // the data source with any password hidden
  std::string initialQuery_;
  std::string* callerText_;
  std::unique_ptr<auralink::db::OdbcConnection> connection_;
  bool wanted_ = false;  // OpenDb succeeded and CloseDb has not been called since
};
