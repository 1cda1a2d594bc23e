// The queue between the polling threads that indicate and the one thread that forwards.
//
// Indications arrive on several polling threads at once; Orvex is reached through a Java
// VM that one thread should own. Push() only records the operation (and, with a journal,
// writes it to disk) and returns; the forwarding thread hands the operations to the
// forwarder one at a time, in the order they were pushed.
//
// Protocol:
//   Start(forwarder): opens the journal (when there is one), queues what it still holds,
//     starts the forwarding thread and runs forwarder.Begin() on it. Returns Begin's
//     result; on 0 the thread has already ended (after calling Finish) and the queue
//     refuses pushes.
//   Push(op) from any thread, any number of times, until Close. With a journal, an
//     operation that could not be written to it is refused: only what is on disk counts
//     as queued, so the caller keeps it at its source and offers it again later.
//   Close(drainMs): refuses further pushes, lets the thread forward what is queued for up
//     to drainMs, then runs forwarder.Finish() on the thread and joins it. What is left
//     stays in the journal for the next start; without a journal it is lost (traced).
//
// An operation leaves the queue only once Forward() answered nonzero; a failure is tried
// again after a pause that doubles up to `maxRetryDelayMs`. After `maxAttempts` failed
// tries the operation is set aside, so that one object Orvex will never accept does not
// hold up every later one, but it is never dropped: with a journal it moves to the
// journal's set-aside file and is queued again at the next start (when that file cannot
// be written it stays at the head and is tried on); in memory it goes to the back of the
// queue. Each is traced at level 0.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "operation_journal.h"
#include "queued_operation.h"

// Carries operations on. All three calls come on the forwarding thread.
class OperationForwarder {
 public:
  virtual ~OperationForwarder() = default;
  virtual int Begin() { return 1; }
  // Nonzero once the operation was accepted.
  virtual int Forward(const QueuedOperation& operation) = 0;
  virtual void Finish() {}
};

struct OperationQueueOptions {
  DWORD retryDelayMs = 1000;
  DWORD maxRetryDelayMs = 30000;
  int maxAttempts = 5;
};

struct OperationQueueCounts {
  unsigned long long received = 0;   // accepted by Push, including those replayed at start
  unsigned long long forwarded = 0;  // accepted by the forwarder
  unsigned long long setAside = 0;   // moved aside after maxAttempts failures
  unsigned long long queued = 0;     // waiting now
};

class OperationQueue {
 public:
  // `journal` null keeps operations in memory only.
  explicit OperationQueue(std::unique_ptr<OperationJournal> journal, OperationQueueOptions options = {});
  ~OperationQueue();  // Close(0) when still running
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  int Start(OperationForwarder* forwarder);
  // 1 when queued (with a journal: written and synced to it), 0 when refused because the
  // queue is not running or the journal could not be written. A refused operation is not
  // kept anywhere. The first refusal of a journal outage is traced at level 0, and so is
  // the first write that works again.
  int Push(LONG operation, std::string id, std::string stream);
  // Returns the number of operations left unforwarded.
  size_t Close(DWORD drainMs);

  OperationQueueCounts Counts() const;

 private:
  void Run(OperationForwarder* forwarder);
  // Appends `op` to the journal; false when that failed.
  bool Write(QueuedOperation* op);
  // Moves the head operation aside; false when it must stay at the head.
  bool SetAside();
  // Waits until `ms` passed or the drain deadline came; false when the thread must end.
  bool Pause(std::unique_lock<std::mutex>& lock, DWORD ms);

  std::unique_ptr<OperationJournal> journal_;
  const OperationQueueOptions options_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<QueuedOperation> queue_;
  bool accepting_ = false;
  bool closing_ = false;
  std::chrono::steady_clock::time_point drainDeadline_;
  int beginResult_ = -1;
  OperationQueueCounts counts_;
  // Operations refused since the journal last failed a write; 0 while it writes.
  unsigned long long refusedSinceWriteFailed_ = 0;
  std::thread thread_;
};
