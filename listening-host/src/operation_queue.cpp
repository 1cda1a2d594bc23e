// Locking: `mutex_` guards the queue, the flags and the counts, and serialises the journal
// (appends and acknowledgements keep the journal in queue order). It is never held while
// the forwarder runs, so a slow Orvex call does not hold up the polling threads' pushes.
#include "operation_queue.h"

#include <auralink/trace_utils.h>

#include <algorithm>

namespace {
constexpr const char* kComponent = "OperationQueue";
}

OperationQueue::OperationQueue(std::unique_ptr<OperationJournal> journal, OperationQueueOptions options)
    : journal_(std::move(journal)), options_(options) {}

OperationQueue::~OperationQueue() { Close(0); }

int OperationQueue::Start(OperationForwarder* forwarder) {
  if (thread_.joinable()) return 0;
  if (journal_) {
    std::vector<QueuedOperation> pending;
    if (!journal_->Open(&pending)) {
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Unable to open the queue journal %s",
                                         journal_->JournalPath().c_str());
      return 0;
    }
    CTraceUtils::GetInstance()->LogMsg(1, kComponent, "%u queued operation(s) replayed from %s",
                                       static_cast<unsigned>(pending.size()), journal_->JournalPath().c_str());
    if (journal_->RestoredFromSetAside())
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "%u operation(s) set aside in %s are tried again",
                                         static_cast<unsigned>(journal_->RestoredFromSetAside()),
                                         journal_->SetAsidePath().c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.assign(pending.begin(), pending.end());
    counts_.received += pending.size();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = false;
    beginResult_ = -1;
  }
  thread_ = std::thread(&OperationQueue::Run, this, forwarder);
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return beginResult_ != -1; });
  if (beginResult_) return 1;
  lock.unlock();
  thread_.join();
  return 0;
}

int OperationQueue::Push(LONG operation, std::string id, std::string stream) {
  QueuedOperation op{operation, std::move(id), std::move(stream), 0};
  std::lock_guard<std::mutex> lock(mutex_);
  if (!accepting_) return 0;
  if (journal_ && !Write(&op)) return 0;
  queue_.push_back(std::move(op));
  ++counts_.received;
  changed_.notify_all();
  return 1;
}

size_t OperationQueue::Close(DWORD drainMs) {
  if (!thread_.joinable()) {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accepting_ = false;
    closing_ = true;
    drainDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(drainMs);
    changed_.notify_all();
  }
  thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!queue_.empty()) {
    if (journal_)
      CTraceUtils::GetInstance()->LogMsg(1, kComponent, "%u operation(s) stay in the queue journal for the next start",
                                         static_cast<unsigned>(queue_.size()));
    else
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "%u queued operation(s) were not forwarded and are lost",
                                         static_cast<unsigned>(queue_.size()));
  }
  return queue_.size();
}

OperationQueueCounts OperationQueue::Counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  OperationQueueCounts counts = counts_;
  counts.queued = queue_.size();
  return counts;
}

void OperationQueue::Run(OperationForwarder* forwarder) {
  const int begun = forwarder->Begin() ? 1 : 0;
  std::unique_lock<std::mutex> lock(mutex_);
  beginResult_ = begun;
  accepting_ = begun != 0;
  changed_.notify_all();

  int attempts = 0;
  DWORD delay = options_.retryDelayMs;
  while (begun) {
    changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
    if (closing_ && (queue_.empty() || std::chrono::steady_clock::now() >= drainDeadline_)) break;
    // Pushes only add at the back, so the front stays put while the lock is let go.
    const QueuedOperation& op = queue_.front();
    lock.unlock();
    const int accepted = forwarder->Forward(op);
    lock.lock();
    if (!accepted) {
      ++attempts;
      if (attempts < options_.maxAttempts) {
        CTraceUtils::GetInstance()->LogMsg(2, kComponent, "Operation %d (id %s) was not accepted; try %d follows in %u ms",
                                           static_cast<int>(op.operation), op.id.c_str(), attempts + 1,
                                           static_cast<unsigned>(delay));
        if (!Pause(lock, delay)) break;
        delay = std::min(delay * 2, options_.maxRetryDelayMs);
        continue;
      }
      attempts = 0;
      delay = options_.retryDelayMs;
      if (!SetAside()) {
        if (!Pause(lock, options_.maxRetryDelayMs)) break;
        continue;
      }
      ++counts_.setAside;
      if (!journal_) continue;
    } else {
      ++counts_.forwarded;
    }
    attempts = 0;
    delay = options_.retryDelayMs;
    const uint64_t journalEnd = op.journalEnd;
    queue_.pop_front();
    if (journal_ && journalEnd != 0 && !journal_->Acknowledge(journalEnd))
      CTraceUtils::GetInstance()->LogMsg(0, kComponent,
                                         "Unable to record a forwarded operation in %s; it may be sent again after a restart",
                                         journal_->AckPath().c_str());
  }
  accepting_ = false;
  lock.unlock();
  forwarder->Finish();
}

bool OperationQueue::Write(QueuedOperation* op) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!journal_->Append(*op, &op->journalEnd)) {
    // Traced once per outage: a full disk would otherwise add a line per indication.
    if (refusedSinceWriteFailed_++ == 0)
      trace->LogMsg(0, kComponent,
                    "Unable to write operation %d (id %s) to the queue journal %s; operations are refused until it "
                    "can be written again",
                    static_cast<int>(op->operation), op->id.c_str(), journal_->JournalPath().c_str());
    return false;
  }
  if (refusedSinceWriteFailed_ > 0) {
    trace->LogMsg(0, kComponent, "The queue journal %s can be written again; %llu operation(s) were refused meanwhile",
                  journal_->JournalPath().c_str(), refusedSinceWriteFailed_);
    refusedSinceWriteFailed_ = 0;
  }
  return true;
}

bool OperationQueue::SetAside() {
  QueuedOperation& op = queue_.front();
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!journal_) {
    // Nothing is kept on disk in this store: the operation goes behind the others and
    // keeps being tried while the process runs.
    trace->LogMsg(0, kComponent, "Operation %d (id %s) was refused %d times; it goes to the back of the queue",
                  static_cast<int>(op.operation), op.id.c_str(), options_.maxAttempts);
    QueuedOperation moved = std::move(op);
    queue_.pop_front();
    queue_.push_back(std::move(moved));
    return true;
  }
  if (!journal_->SetAside(op)) {
    trace->LogMsg(0, kComponent, "Operation %d (id %s) was refused %d times and cannot be set aside in %s; it is tried again",
                  static_cast<int>(op.operation), op.id.c_str(), options_.maxAttempts,
                  journal_->SetAsidePath().c_str());
    return false;
  }
  trace->LogMsg(0, kComponent, "Operation %d (id %s) was refused %d times; it is set aside in %s until the next start",
                static_cast<int>(op.operation), op.id.c_str(), options_.maxAttempts, journal_->SetAsidePath().c_str());
  return true;
}

bool OperationQueue::Pause(std::unique_lock<std::mutex>& lock, DWORD ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (closing_ && now >= drainDeadline_) return false;
    if (now >= until) return true;
    changed_.wait_until(lock, closing_ ? std::min(until, drainDeadline_) : until);
  }
}
