// The table poller of the utility library: one thread that watches one SQL table of an
// ODBC data source and reports every row created, modified or deleted since its last look.
//
// What it reads. Every poll interval the thread takes a snapshot: the selected columns of
// the polled table, joined with the update tables, whose fields accompany each row. Every
// row of the polled table is in the snapshot whether or not the update tables hold rows for
// it (the joins are outer joins). The update tables are joined in their order; each
// condition is a pair of terms, "table.column" or a bare value, taken two by two from the
// conditions list (side 1, then side 2), and goes to the join of the last-joined table it
// names, or filters the polled table when it names no update table. An update table that no
// condition names is joined on the key columns of the same names. An update table that is
// the polled table itself adds its fields without a join.
//
// Objects. Rows that share their key values are one object. Its key stream is
// "column=value|" per key column; its object stream is an attribute text of every other
// column, named without its table: each table's values once, and when a table gives an
// object several different rows (an object with several parents), the second and later
// ones with the suffix "#1", "#2", ... on the field names. A joined table whose fields are
// all empty in a row gave no row for it and adds nothing. In both streams each "|" inside
// a value is written as "¦" (<auralink/attribute_text.h>), so that no value can add a pair
// or make two keys one key stream; every other character is kept.
//
// Polling type "Instances" (the default, and what the repository's objects need): 16-byte
// binary values are identifiers and read in their uniqueidentifier text form
// ("XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"). Any other type reads binary values as
// upper-case hexadecimal.
//
// Reports, through OnTableEvent on the polling thread: 1 for an object that is new, 2 for
// one whose object stream changed, 3 for one that is gone (with its last object stream).
// The first snapshot after Start is the baseline and reports nothing. A snapshot that fails
// (data source unreachable, query refused) is never compared: the thread traces the
// failure once per outage, reconnects and tries again next interval, and compares the next
// good snapshot with the last good one. A change that OnTableEvent did not take leaves the
// last good snapshot in place, so the next interval reports it again (with the others of
// its interval: a duplicate, never a loss).
#pragma once
#include <auralink/db_manager.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace auralink::poll {
class SnapshotReader;
struct SnapshotQuery;
}  // namespace auralink::poll

class DbPollThrd {
 public:
  // Short form: the update tables need no condition (one update table, joined on the key
  // columns, or the polled table itself).
  DbPollThrd(std::string dataSource, std::string pollingType, int pollInterval, std::string tableName,
             std::vector<std::string>& selectColumns, std::vector<std::string>& keyColumns,
             std::vector<std::string>& modifyColumns, std::vector<std::string>& updateTables,
             std::vector<std::string>& updateFields);
  // Long form: with join conditions. Note the order of updateFields and updateTables.
  DbPollThrd(std::string dataSource, std::string pollingType, int pollInterval, std::string tableName,
             std::vector<std::string>& selectColumns, std::vector<std::string>& keyColumns,
             std::vector<std::string>& modifyColumns, std::vector<std::string>& updateFields,
             std::vector<std::string>& updateTables, std::vector<std::string>& updateConditions);
  // Stops the thread. A class that overrides the slots below must call Stop in its own
  // destructor: the thread may be calling them until Stop returns.
  virtual ~DbPollThrd();

  // Called on the polling thread for every change: the operation (1, 2 or 3), the key
  // stream and the object stream. Nonzero when the change was taken; after a 0 the thread
  // keeps comparing with the snapshot before, so the change is reported again next
  // interval. The base takes everything.
  virtual int OnTableEvent(short operation, std::string opPKStream, std::string opStream);
  // Take the baseline and each later snapshot: `columns` receives the qualified names
  // ("table.column") of the values of each row of `rows`, in order. Nonzero on success.
  // Both read the rows through TakeSnapshot; the polling thread itself does not call them.
  // They may be called while the thread polls: each waits for a snapshot under way, since
  // both read through the thread's one connection.
  virtual int GetInitialSnapshot(std::vector<std::string>& columns, std::vector<TabEntry>& rows);
  virtual int GetSnapshot(std::vector<std::string>& columns, std::vector<TabEntry>& rows);
  // The polling thread's snapshots (`initial` for the baseline): the rows are handed to
  // `receiver` one at a time as they are read, so that a large table is never held as rows
  // but only in the thread's compact form. A class that supplies its own snapshots
  // overrides this. Nonzero on success; on failure the rows handed over are to be dropped.
  // The polling thread and the two above call it under one lock, never twice at once; it
  // must not call them itself.
  virtual int TakeSnapshot(bool initial, std::vector<std::string>& columns, DBManager::RowReceiver& receiver);

  // Start the polling thread (nothing when it runs); 0 when it cannot be created.
  int Start();
  // Ask the thread to end and wait for it; safe to call when stopped, and from OnTableEvent
  // (which then returns before the thread ends). Returns 1.
  int Stop();
  bool IsRunning() const;

  const std::string& GetDataSource() const { return dataSource_; }
  const std::string& GetTableName() const { return tableName_; }
  const std::string& GetPollingType() const { return pollingType_; }
  // Seconds between snapshots, at least 1.
  int GetPollInterval() const { return pollInterval_; }

  DbPollThrd(const DbPollThrd&) = delete;
  DbPollThrd& operator=(const DbPollThrd&) = delete;

 protected:
  // Why the last snapshot failed; set by a failing TakeSnapshot, read by the polling thread.
  void SetSnapshotError(std::string text) { snapshotError_ = std::move(text); }

 private:
  // The constructors' common part: the snapshot query the lists make.
  void Configure(const std::vector<std::string>& selectColumns, const std::vector<std::string>& keyColumns,
                 const std::vector<std::string>& modifyColumns, const std::vector<std::string>& updateTables,
                 const std::vector<std::string>& updateFields, const std::vector<std::string>& updateConditions);
  void Run();
  // Sleeps up to `seconds`; true when Stop asked the thread to end.
  bool WaitForStop(int seconds);

  std::string dataSource_;
  std::string pollingType_;
  int pollInterval_;
  std::string tableName_;
  std::unique_ptr<auralink::poll::SnapshotQuery> query_;
  // A snapshot is taken under snapshotMutex_, which guards the reader and the error text.
  std::mutex snapshotMutex_;
  std::unique_ptr<auralink::poll::SnapshotReader> reader_;
  std::string snapshotError_;

  mutable std::mutex startStop_;  // serialises Start and Stop
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool stopRequested_ = false;  // under wakeMutex_
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};
