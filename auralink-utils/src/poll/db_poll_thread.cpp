// The polling thread of DbPollThrd.
//
// Protocol: Start creates the thread under `startStop_`; Stop raises `stopRequested_` under
// `wakeMutex_`, wakes the thread and joins it, still under `startStop_`, so Start and Stop
// from different threads never overlap and no thread outlives a Stop (one asked from the
// polling thread itself leaves the join to the next Stop or the destructor). The thread sleeps on
// `wake_` between snapshots and checks `stopping_` between reports, so a Stop waits at
// most for the snapshot under way. A snapshot (TakeSnapshot with its error text, and so
// the one reader and its connection) is taken under `snapshotMutex_`, whether by the
// polling thread or by GetSnapshot on another thread: two reads never share the connection
// at once. The compact snapshots belong to the polling thread alone.
#include <auralink/db_poll_thread.h>
#include <auralink/trace_utils.h>
#include <objbase.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "poll/snapshot_query.h"
#include "poll/snapshot_reader.h"
#include "poll/table_snapshot.h"

using auralink::poll::SnapshotQuery;
using auralink::poll::SnapshotReader;
using auralink::poll::TableChange;
using auralink::poll::TableSnapshot;

namespace {

constexpr const char* kComponent = "DbPollThrd";
constexpr int kShortestInterval = 1;  // seconds

int Interval(int seconds, const std::string& table) {
  if (seconds >= kShortestInterval) return seconds;
  CTraceUtils::GetInstance()->LogMsg(2, kComponent, "Poll interval %d s of the table %s raised to %d s", seconds,
                                     table.c_str(), kShortestInterval);
  return kShortestInterval;
}

// SQLite's ODBC driver loads unixODBC's installer library for every connection and unloads
// it at disconnection, leaving the library's configuration cache behind each time; a
// poller that reconnects after every outage would grow without end. Kept loaded for the
// life of the process, the library keeps one cache (the database connection does the same).
void KeepOdbcInstallerLoaded() {
  static const HMODULE installer = LoadLibraryA("libodbcinst.so.2");
  (void)installer;
}

bool ReadsIdentifiers(const std::string& pollingType) { return strcasecmp(pollingType.c_str(), "Instances") == 0; }

}  // namespace

DbPollThrd::DbPollThrd(std::string dataSource, std::string pollingType, int pollInterval, std::string tableName,
                       std::vector<std::string>& selectColumns, std::vector<std::string>& keyColumns,
                       std::vector<std::string>& modifyColumns, std::vector<std::string>& updateTables,
                       std::vector<std::string>& updateFields)
    : dataSource_(std::move(dataSource)),
      pollingType_(std::move(pollingType)),
      pollInterval_(Interval(pollInterval, tableName)),
      tableName_(std::move(tableName)),
      reader_(std::make_unique<SnapshotReader>()) {
  Configure(selectColumns, keyColumns, modifyColumns, updateTables, updateFields, {});
}

DbPollThrd::DbPollThrd(std::string dataSource, std::string pollingType, int pollInterval, std::string tableName,
                       std::vector<std::string>& selectColumns, std::vector<std::string>& keyColumns,
                       std::vector<std::string>& modifyColumns, std::vector<std::string>& updateFields,
                       std::vector<std::string>& updateTables, std::vector<std::string>& updateConditions)
    : dataSource_(std::move(dataSource)),
      pollingType_(std::move(pollingType)),
      pollInterval_(Interval(pollInterval, tableName)),
      tableName_(std::move(tableName)),
      reader_(std::make_unique<SnapshotReader>()) {
  Configure(selectColumns, keyColumns, modifyColumns, updateTables, updateFields, updateConditions);
}

void DbPollThrd::Configure(const std::vector<std::string>& selectColumns, const std::vector<std::string>& keyColumns,
                           const std::vector<std::string>& modifyColumns,
                           const std::vector<std::string>& updateTables,
                           const std::vector<std::string>& updateFields,
                           const std::vector<std::string>& updateConditions) {
  // Every selected column is watched; the modify columns are among them.
  std::vector<std::string> selected = selectColumns;
  for (const std::string& column : modifyColumns)
    if (std::find(selected.begin(), selected.end(), column) == selected.end()) selected.push_back(column);
  query_ = std::make_unique<SnapshotQuery>(
      auralink::poll::BuildSnapshotQuery(tableName_, selected, keyColumns, updateTables, updateFields, updateConditions));
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(2, kComponent, "Snapshot query of the table %s (data source %s): %s", tableName_.c_str(),
                dataSource_.c_str(), query_->sql.c_str());
  if (!query_->warning.empty())
    trace->LogMsg(0, kComponent, "Table %s: %s", tableName_.c_str(), query_->warning.c_str());
}

DbPollThrd::~DbPollThrd() { Stop(); }

int DbPollThrd::OnTableEvent(short, std::string, std::string) { return 1; }

int DbPollThrd::TakeSnapshot(bool, std::vector<std::string>& columns, DBManager::RowReceiver& receiver) {
  columns.clear();
  if (query_->columns.empty()) {
    SetSnapshotError("no column to poll is configured");
    return 0;
  }
  std::string diagnostics;
  if (!reader_->IsConnected()) KeepOdbcInstallerLoaded();
  if (!reader_->IsConnected() && !reader_->Connect(dataSource_, diagnostics)) {
    SetSnapshotError("cannot connect to the data source: " + diagnostics);
    return 0;
  }
  if (!reader_->Read(query_->sql, ReadsIdentifiers(pollingType_), receiver, diagnostics)) {
    // Reconnect next time: the data source may have gone and come back meanwhile.
    reader_->Disconnect();
    SetSnapshotError("the snapshot query failed: " + diagnostics);
    return 0;
  }
  columns = query_->QualifiedNames();
  return 1;
}

namespace {

int CollectSnapshot(DbPollThrd& poller, bool initial, std::vector<std::string>& columns,
                    std::vector<TabEntry>& rows) {
  DBManager::RowCollector collector(rows);
  collector.Restart();
  if (poller.TakeSnapshot(initial, columns, collector)) return 1;
  rows.clear();
  return 0;
}

}  // namespace

int DbPollThrd::GetInitialSnapshot(std::vector<std::string>& columns, std::vector<TabEntry>& rows) {
  std::lock_guard<std::mutex> lock(snapshotMutex_);
  return CollectSnapshot(*this, true, columns, rows);
}

int DbPollThrd::GetSnapshot(std::vector<std::string>& columns, std::vector<TabEntry>& rows) {
  std::lock_guard<std::mutex> lock(snapshotMutex_);
  return CollectSnapshot(*this, false, columns, rows);
}

int DbPollThrd::Start() {
  std::lock_guard<std::mutex> guard(startStop_);
  if (thread_.joinable()) return 1;
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    stopRequested_ = false;
  }
  stopping_ = false;
  try {
    thread_ = std::thread([this] {
      // Changes go to the hub's sinks from this thread, which joins the multithreaded
      // apartment to reach them.
      const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      Run();
      if (SUCCEEDED(com)) CoUninitialize();
    });
  } catch (const std::system_error& error) {
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "The polling thread of the table %s cannot be created: %s",
                                       tableName_.c_str(), error.what());
    return 0;
  }
  return 1;
}

int DbPollThrd::Stop() {
  std::lock_guard<std::mutex> guard(startStop_);
  if (!thread_.joinable()) return 1;
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    stopRequested_ = true;
  }
  stopping_ = true;
  wake_.notify_all();
  // Asked from inside OnTableEvent: the thread ends after the report under way, and a later
  // Stop (at the latest the destructor's) joins it.
  if (thread_.get_id() == std::this_thread::get_id()) return 1;
  thread_.join();
  return 1;
}

bool DbPollThrd::IsRunning() const {
  std::lock_guard<std::mutex> guard(startStop_);
  return thread_.joinable();
}

bool DbPollThrd::WaitForStop(int seconds) {
  std::unique_lock<std::mutex> lock(wakeMutex_);
  return wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopRequested_; });
}

void DbPollThrd::Run() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(1, kComponent, "Polling of the table %s (data source %s) started, every %d s", tableName_.c_str(),
                dataSource_.c_str(), pollInterval_);
  TableSnapshot previous;
  bool haveBaseline = false;
  bool failing = false;
  std::vector<std::string> columns;
  // Rows go into the compact snapshot as they are read: a large table is never held as rows.
  auralink::poll::SnapshotBuilder builder(*query_);
  for (int wait = 0; !WaitForStop(wait); wait = pollInterval_) {
    builder.Restart();
    int taken = 0;
    std::string failure;
    {
      std::lock_guard<std::mutex> lock(snapshotMutex_);
      taken = TakeSnapshot(!haveBaseline, columns, builder);
      if (taken && columns.size() != query_->columns.size()) {
        SetSnapshotError("the snapshot has " + std::to_string(columns.size()) + " columns instead of " +
                         std::to_string(query_->columns.size()));
        taken = 0;
      }
      if (!taken) failure = snapshotError_;
    }
    if (!taken) {
      // A failed snapshot is never compared: the objects it lacks are not gone.
      builder.Restart();
      if (!failing)
        trace->LogMsg(0, kComponent, "The table %s (data source %s) cannot be polled: %s. Trying again every %d s",
                      tableName_.c_str(), dataSource_.c_str(), failure.c_str(), pollInterval_);
      failing = true;
      continue;
    }
    if (failing) trace->LogMsg(0, kComponent, "Polling of the table %s resumed", tableName_.c_str());
    failing = false;

    TableSnapshot current = builder.Finish();
    if (haveBaseline) {
      int refused = 0;
      auralink::poll::CompareSnapshots(previous, current, [&](TableChange change, std::string_view key,
                                                              std::string_view stream) {
        if (!OnTableEvent(static_cast<short>(change), std::string(key), std::string(stream))) ++refused;
        return !stopping_.load();
      });
      if (refused) {
        trace->LogMsg(0, kComponent, "%d change(s) of the table %s were not taken; they are reported again next interval",
                      refused, tableName_.c_str());
        continue;
      }
    } else {
      trace->LogMsg(1, kComponent, "Baseline of the table %s taken: %u objects", tableName_.c_str(),
                    static_cast<unsigned>(current.Size()));
    }
    previous = std::move(current);
    haveBaseline = true;
  }
  {
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    reader_->Disconnect();
  }
  trace->LogMsg(1, kComponent, "Polling of the table %s stopped", tableName_.c_str());
}
