// The disk side of the operation queue: an append-only journal of queued operations and a
// small file holding how far into the journal Orvex has accepted them.
//
// Files, in one folder: "<name>.journal", "<name>.ack" and, once Orvex kept refusing an
// operation, "<name>.setaside".
//   journal  records one after another, each: payload length (4 bytes), CRC-32 of the
//            payload (4 bytes), payload = operation (4 bytes), identifier length (4 bytes),
//            identifier, object stream. Integers little-endian.
//   ack      the acknowledged journal offset (8 bytes) and its CRC-32 (4 bytes), replaced
//            as a whole (write a temporary file, fsync, rename) so it is never half written.
//   setaside records in the journal's layout: operations Orvex refused again and again.
//            They are kept rather than dropped, and Open() queues them again (appended to
//            the journal, then the file is emptied) so every start gives them another try.
//
// Protocol: Open() once; it returns the operations past the acknowledged offset, in order.
// A record cut short or damaged by a crash ends the replay, and the journal is cut back to
// the last whole record so that later appends can be read again. Then Append() per new
// operation (fsync before it returns: an operation counts as queued only once it is on
// disk) and Acknowledge(end) once Orvex accepted everything up to `end`.
//
// The ack offset must always fall on a record boundary of the journal as it is now, or a
// replay would start inside a record and cut off everything after it. Moving the offset
// within the journal is safe whatever fails: the old file stays whole at an earlier
// boundary, which costs duplicates at most. Emptying is the dangerous step, because every
// boundary moves. Acknowledge with the journal's own end therefore (1) truncates the
// journal and syncs it, then (2) removes the ack file and syncs the folder; no ack file
// means offset 0. This order is the safest one:
//   - a crash between (1) and (2) leaves an offset past the end of an empty journal, which
//     Open reads as "nothing to replay" (removing first would replay everything Orvex
//     already accepted);
//   - removing a file needs no free inode, quota or space, unlike writing a new one;
//   - while (2) has not succeeded the old offset is stale, so Append refuses (and tries
//     the removal again) until it is gone: nothing is ever appended behind a stale offset.
// Open also checks the offset against the record boundaries it finds from the start; an
// offset that falls inside a record replays the whole journal (a level-0 trace line):
// duplicates, never a loss.
//
// A crash between appending set-aside operations to the journal and emptying the
// set-aside file sends them twice, never zero times.
//
// An unreadable ack file counts as offset 0: the journal is replayed whole, so a crash
// costs duplicates, never a lost operation. Not thread-safe: the queue serialises calls.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "queued_operation.h"

// The system calls the journal makes, replaceable so tests can make a write fail (we run
// as root, so file permissions cannot be used to provoke one). System() is the POSIX
// calls on Linux (journal_io_posix.cpp) and their Windows counterparts with the same
// meaning on Windows (journal_io_windows.cpp).
struct JournalIo {
  int (*open)(const char* path, int flags, unsigned mode);
  long long (*write)(int fd, const void* data, unsigned long long size);
  int (*fsync)(int fd);
  int (*ftruncate)(int fd, long long size);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
  int (*close)(int fd);
  // Makes the folder's entries durable (a file removed or renamed in it): 0, or -1.
  int (*syncFolder)(const char* folder);

  static const JournalIo& System();
};

class OperationJournal {
 public:
  // `folder` must exist. `io` must outlive the journal.
  OperationJournal(std::string folder, std::string name, const JournalIo& io = JournalIo::System());
  ~OperationJournal();
  OperationJournal(const OperationJournal&) = delete;
  OperationJournal& operator=(const OperationJournal&) = delete;

  // Opens or creates the files; `pending` receives the operations not yet acknowledged,
  // each with the journal offset just past it. 0 when the journal cannot be opened.
  int Open(std::vector<QueuedOperation>* pending);
  // Appends and syncs one operation; `end` receives the offset just past it. 0 on failure
  // (a partial record is cut off again, so the journal stays readable), and while the ack
  // file of an emptied journal could not be removed yet.
  int Append(const QueuedOperation& operation, uint64_t* end);
  // Everything before `end` was accepted. 0 when the ack file could not be replaced (or,
  // when this empties the journal, removed).
  int Acknowledge(uint64_t end);
  // Appends and syncs an operation to the set-aside file. 0 on failure (the file is cut
  // back to its previous length, so it stays readable).
  int SetAside(const QueuedOperation& operation);
  // How many of the operations the last Open() returned came from the set-aside file.
  size_t RestoredFromSetAside() const { return restored_; }

  std::string JournalPath() const { return folder_ + "/" + name_ + ".journal"; }
  std::string AckPath() const { return folder_ + "/" + name_ + ".ack"; }
  std::string SetAsidePath() const { return folder_ + "/" + name_ + ".setaside"; }

 private:
  int WriteAck(uint64_t offset);
  // Removes the ack file (offset 0) and makes the removal durable; clears ackStale_.
  int RemoveAck();
  int SyncFolder();
  uint64_t ReadAck() const;
  int WriteAll(int fd, const std::string& bytes);
  void RestoreSetAside(std::vector<QueuedOperation>* pending);

  std::string folder_;
  std::string name_;
  const JournalIo& io_;
  int fd_ = -1;
  uint64_t size_ = 0;
  size_t restored_ = 0;
  // The journal was emptied but the ack file still holds an offset into the old records.
  bool ackStale_ = false;
};
