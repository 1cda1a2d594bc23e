#include <auralink/db_manager.h>
#include <auralink/trace_utils.h>
#include <dialect_function_names.h>

#include <cctype>

#include "db/odbc_connection.h"
#include "db/sqlite_dialect.h"
#include "db/statement_shape.h"

using auralink::db::OdbcConnection;
using auralink::db::OdbcOutcome;
using auralink::db::PreparedStatement;

namespace {
constexpr const char* kComponent = "DBManager";
constexpr int kSuccess = 0;
constexpr int kFailure = -1;

// A call that SQLite can compile only when the dialect module is loaded.
const std::string kDialectProbe =
    "SELECT " AURALINK_GUID_TEXT_FUNCTION "(NULL), " AURALINK_GUID_BINARY_FUNCTION "(NULL)";

// A count as a "%u" trace argument.
unsigned Count(size_t n) { return static_cast<unsigned>(n); }

// SQLite's ODBC driver loads unixODBC's installer library for every connection, to read the
// data source's settings, and unloads it at disconnection; each unload leaves the library's
// configuration cache behind (some 1.5 KB a connection, so a poller that reconnects would
// grow without end). Loaded once for the life of the process, the library keeps one cache
// that every connection reuses. Where it is missing nothing changes.
void KeepOdbcInstallerLoaded() {
  static const HMODULE installer = LoadLibraryA("libodbcinst.so.2");
  (void)installer;
}

// The data source as trace lines show it: a connection string with its passwords hidden.
// Values may be braced, "{…}", and then hold ";".
std::string NameForTrace(const std::string& dataSource) {
  std::string shown;
  size_t start = 0;
  while (start < dataSource.size()) {
    size_t equals = dataSource.find('=', start);
    size_t end = dataSource.find(';', start);
    if (equals != std::string::npos && equals < end && equals + 1 < dataSource.size() &&
        dataSource[equals + 1] == '{') {
      size_t close = dataSource.find('}', equals);
      end = close == std::string::npos ? std::string::npos : dataSource.find(';', close);
    }
    if (end == std::string::npos) end = dataSource.size();
    std::string part = dataSource.substr(start, end - start);
    if (equals != std::string::npos && equals < end) {
      std::string key = dataSource.substr(start, equals - start);
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (key == "PWD" || key == "PASSWORD") part = dataSource.substr(start, equals + 1 - start) + "***";
    }
    shown += part;
    if (end < dataSource.size()) shown += ';';
    start = end + 1;
  }
  return shown;
}

// Runs `sql` on the connection, translated when the data source is SQLite, with the
// receiver told that its rows start over. A query that has a shape runs as the statement
// prepared for its shape, with its literals bound; the shape is translated and prepared
// on its first use only. Whatever the way, the trace shows the text as sent.
OdbcOutcome Run(OdbcConnection& connection, const std::string& sql, DBManager::RowReceiver& receiver,
                std::vector<std::string>& columns, std::string& diagnostics) {
  receiver.Restart();
  const bool sqlite = auralink::db::IsSqliteDbms(connection.DbmsName());
  CTraceUtils* trace = CTraceUtils::GetInstance();
  auralink::db::StatementShape shape;
  if (!auralink::db::ShapeStatement(sql, shape)) {
    if (!sqlite) return connection.Execute(sql, receiver, columns, diagnostics);
    std::string translated = auralink::db::TranslateConvertForSqlite(sql);
    if (translated != sql) trace->LogMsg(3, kComponent, "Translated for SQLite: %s", translated.c_str());
    return connection.Execute(translated, receiver, columns, diagnostics);
  }

  PreparedStatement* prepared = connection.FindPrepared(shape.text);
  std::string fresh;  // the text sent for a shape not seen before
  if (!prepared) fresh = sqlite ? auralink::db::TranslateConvertForSqlite(shape.text) : shape.text;
  const std::string& sent = prepared ? OdbcConnection::SentText(*prepared) : fresh;
  // Translation leaves literals alone, so the translated text is the translated shape
  // with the literals put back.
  if (sqlite && sent != shape.text && trace->IsEnabled(3))
    trace->LogMsg(3, kComponent, "Translated for SQLite: %s", auralink::db::FillShape(sent, shape.values).c_str());
  bool refusedShape = false;
  if (!prepared) {
    OdbcOutcome outcome = connection.Prepare(shape.text, fresh, prepared, diagnostics);
    if (outcome == OdbcOutcome::LinkLost) return outcome;
    refusedShape = outcome != OdbcOutcome::Ok;
  }
  if (prepared && OdbcConnection::IsPrepared(*prepared))
    return connection.Execute(*prepared, shape.values, receiver, columns, diagnostics);

  // The data source would not prepare the shape: the text goes as it is, as it would
  // without shapes, and a shape whose texts run is not tried again.
  OdbcOutcome outcome = connection.Execute(auralink::db::FillShape(sent, shape.values), receiver, columns, diagnostics);
  if (refusedShape && outcome == OdbcOutcome::Ok) connection.KeepUnprepared(std::move(shape.text), std::move(fresh));
  return outcome;
}

// Counts the rows on their way to the receiver, for the trace.
class RowCounter : public DBManager::RowReceiver {
 public:
  explicit RowCounter(DBManager::RowReceiver& receiver) : receiver_(receiver) {}
  void Restart() override {
    count_ = 0;
    receiver_.Restart();
  }
  bool Row(const TabEntry& row) override {
    ++count_;
    return receiver_.Row(row);
  }
  size_t Count() const { return count_; }

 private:
  DBManager::RowReceiver& receiver_;
  size_t count_ = 0;
};
}  // namespace

DBManager::DBManager(const char* dataSource, const char* initialQuery, std::string* callerText)
    : dataSource_(dataSource ? dataSource : ""),
      traceName_(NameForTrace(dataSource_)),
      initialQuery_(initialQuery ? initialQuery : ""),
      callerText_(callerText),
      connection_(std::make_unique<OdbcConnection>()) {}

DBManager::~DBManager() = default;

bool DBManager::IsOpen() const { return connection_->IsConnected(); }

int DBManager::Fail(const std::string& diagnostics) {
  if (callerText_) *callerText_ = diagnostics;
  return kFailure;
}

void DBManager::Succeed() {
  if (callerText_) callerText_->clear();
}

int DBManager::Connect() {
  KeepOdbcInstallerLoaded();
  std::string diagnostics;
  if (connection_->Connect(dataSource_, diagnostics) != OdbcOutcome::Ok) {
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Cannot connect to the data source %s: %s", traceName_.c_str(),
                                       diagnostics.c_str());
    return Fail(diagnostics);
  }
  const bool sqlite = auralink::db::IsSqliteDbms(connection_->DbmsName());
  CTraceUtils::GetInstance()->LogMsg(2, kComponent, "Connected to the data source %s (%s %s%s)", traceName_.c_str(),
                                     connection_->DbmsName().c_str(), connection_->DbmsVersion().c_str(),
                                     sqlite ? ", SQL Server conversions translated" : "");
  // The driver only warns when an extension named in LoadExt does not load; without the
  // module every conversion would fail later with a less helpful message.
  if (sqlite && connection_->Prepare(kDialectProbe, diagnostics) != OdbcOutcome::Ok) {
    CTraceUtils::GetInstance()->LogMsg(
        0, kComponent, "The SQLite data source %s lacks the dialect module (see its LoadExt setting): %s",
        traceName_.c_str(), diagnostics.c_str());
    connection_->Disconnect();
    return Fail(diagnostics);
  }
  if (!initialQuery_.empty()) {
    std::string probe = sqlite ? auralink::db::TranslateConvertForSqlite(initialQuery_) : initialQuery_;
    if (connection_->Prepare(probe, diagnostics) != OdbcOutcome::Ok) {
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "The data source %s refuses the query \"%s\": %s",
                                         traceName_.c_str(), initialQuery_.c_str(), diagnostics.c_str());
      connection_->Disconnect();
      return Fail(diagnostics);
    }
  }
  return kSuccess;
}

int DBManager::OpenDb() {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Opening the data source %s", traceName_.c_str());
  wanted_ = false;
  if (Connect() != kSuccess) return kFailure;
  wanted_ = true;
  Succeed();
  return kSuccess;
}

int DBManager::MakeQuery(std::string sql, std::vector<TabEntry>& rows, std::vector<std::string>& columns) {
  rows.clear();
  DBManager::RowCollector collector(rows);
  int result = MakeQuery(std::move(sql), collector, columns);
  if (result != kSuccess) rows.clear();
  return result;
}

int DBManager::MakeQuery(std::string sql, RowReceiver& receiver, std::vector<std::string>& columns) {
  columns.clear();
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(3, kComponent, "Query on %s: %s", traceName_.c_str(), sql.c_str());
  if (!wanted_) {
    trace->LogMsg(0, kComponent, "Query on %s refused: the connection is not open", traceName_.c_str());
    return Fail("the connection is not open");
  }

  // A connection lost on an earlier query is reopened first; one lost during this query is
  // reopened and the query run again, once. (Queries here read; a statement that changes
  // data could run twice if the link broke after the server had carried it out.)
  bool reopened = false;
  if (!connection_->IsConnected()) {
    trace->LogMsg(0, kComponent, "The connection to %s is down; reopening it", traceName_.c_str());
    if (Connect() != kSuccess) return kFailure;
    reopened = true;
  }
  std::string diagnostics;
  RowCounter counter(receiver);
  OdbcOutcome outcome = Run(*connection_, sql, counter, columns, diagnostics);
  if (outcome == OdbcOutcome::LinkLost && !reopened) {
    trace->LogMsg(0, kComponent, "The connection to %s was lost (%s); reopening it", traceName_.c_str(),
                  diagnostics.c_str());
    connection_->Disconnect();
    if (Connect() != kSuccess) return kFailure;
    outcome = Run(*connection_, sql, counter, columns, diagnostics);
  }

  if (outcome != OdbcOutcome::Ok) {
    columns.clear();
    if (outcome == OdbcOutcome::LinkLost) connection_->Disconnect();  // the next query reconnects
    trace->LogMsg(0, kComponent, "Query on %s failed: %s (query: %s)", traceName_.c_str(), diagnostics.c_str(),
                  sql.c_str());
    return Fail(diagnostics);
  }
  trace->LogMsg(3, kComponent, "Query on %s returned %u rows of %u columns", traceName_.c_str(), Count(counter.Count()),
                Count(columns.size()));
  Succeed();
  return kSuccess;
}

int DBManager::CloseDb() {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "Closing the data source %s", traceName_.c_str());
  wanted_ = false;
  connection_->Disconnect();
  return kSuccess;
}
