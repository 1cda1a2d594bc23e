// The operation queue with a fake forwarder: order across pushing threads, retries, the
// drain at Close, and what the journal keeps across a restart or a damaged file.
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "operation_queue.h"

namespace {

using auralink::testing::TestSandbox;

// Records what it is handed and on which thread; `failures[id]` tries of that id fail
// first (-1: every try). `hold` keeps Forward waiting until released.
class RecordingForwarder : public OperationForwarder {
 public:
  int Begin() override {
    std::lock_guard<std::mutex> lock(mutex);
    threads.push_back(std::this_thread::get_id());
    return beginResult;
  }
  int Forward(const QueuedOperation& op) override {
    std::unique_lock<std::mutex> lock(mutex);
    threads.push_back(std::this_thread::get_id());
    released.wait(lock, [this] { return !hold; });
    ++tries[op.id];
    if (failAll) return 0;
    auto failing = failures.find(op.id);
    if (failing != failures.end() && (failing->second < 0 || failing->second-- > 0)) return 0;
    accepted.push_back(op);
    return 1;
  }
  void Finish() override {
    std::lock_guard<std::mutex> lock(mutex);
    threads.push_back(std::this_thread::get_id());
    finished = true;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    hold = false;
    released.notify_all();
  }
  std::vector<std::string> AcceptedIds() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> ids;
    for (const QueuedOperation& op : accepted) ids.push_back(op.id);
    return ids;
  }

  std::mutex mutex;
  std::condition_variable released;
  bool hold = false;
  bool failAll = false;
  int beginResult = 1;
  bool finished = false;
  std::map<std::string, int> failures;
  std::map<std::string, int> tries;
  std::vector<QueuedOperation> accepted;
  std::vector<std::thread::id> threads;
};

constexpr OperationQueueOptions kFastRetries{5, 20, 3};

// Ends a queue whose forwarder is held as if the process died there: nothing more is
// accepted, and the drain has no time left.
size_t CloseAsIfKilled(OperationQueue& queue, RecordingForwarder& forwarder) {
  {
    std::lock_guard<std::mutex> lock(forwarder.mutex);
    forwarder.failAll = true;
  }
  std::thread releaser([&forwarder] {
    Sleep(50);
    forwarder.Release();
  });
  const size_t left = queue.Close(0);
  releaser.join();
  return left;
}

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override { CTraceUtils::GetInstance()->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, -1); }
  void TearDown() override { CTraceUtils::GetInstance()->Close(); }

  std::unique_ptr<OperationJournal> Journal(const JournalIo& io = JournalIo::System()) {
    return std::make_unique<OperationJournal>(sandbox.Dir(), "TestLst", io);
  }
  // Appends two operations "<prefix>1" and "<prefix>2" to the journal, acknowledging the
  // first when asked.
  void AppendTwo(const std::string& prefix, bool acknowledgeFirst) {
    OperationJournal journal(sandbox.Dir(), "TestLst");
    std::vector<QueuedOperation> pending;
    ASSERT_EQ(1, journal.Open(&pending));
    uint64_t first = 0, second = 0;
    ASSERT_EQ(1, journal.Append({1, prefix + "1", "s", 0}, &first));
    ASSERT_EQ(1, journal.Append({1, prefix + "2", "s", 0}, &second));
    if (acknowledgeFirst) {
      ASSERT_EQ(1, journal.Acknowledge(first));
    }
  }
  // Runs a queue over the journal until it drained, and gives what it forwarded.
  std::vector<std::string> ReplayWith(std::unique_ptr<OperationJournal> journal) {
    RecordingForwarder forwarder;
    OperationQueue queue(std::move(journal), kFastRetries);
    EXPECT_EQ(1, queue.Start(&forwarder));
    EXPECT_EQ(0u, queue.Close(5000));
    return forwarder.AcceptedIds();
  }

  TestSandbox sandbox;
};

TEST_F(QueueTest, OperationsFromManyThreadsAreForwardedOnOneThreadInEachThreadsOrder) {
  RecordingForwarder forwarder;
  OperationQueue queue(nullptr, kFastRetries);
  ASSERT_EQ(1, queue.Start(&forwarder));
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> pushers;
  for (int t = 0; t < kThreads; ++t)
    pushers.emplace_back([&queue, t] {
      for (int i = 0; i < kEach; ++i) queue.Push(7, std::to_string(t) + ":" + std::to_string(i), "stream");
    });
  for (std::thread& pusher : pushers) pusher.join();
  EXPECT_EQ(0u, queue.Close(10000));

  std::vector<int> next(kThreads, 0);
  for (const std::string& id : forwarder.AcceptedIds()) {
    const int t = std::stoi(id.substr(0, id.find(':')));
    EXPECT_EQ(std::to_string(t) + ":" + std::to_string(next[t]), id);
    ++next[t];
  }
  EXPECT_EQ(std::vector<int>(kThreads, kEach), next);
  for (std::thread::id id : forwarder.threads) EXPECT_EQ(forwarder.threads.front(), id);
  EXPECT_TRUE(forwarder.finished);
  const OperationQueueCounts counts = queue.Counts();
  EXPECT_EQ(800u, counts.received);
  EXPECT_EQ(800u, counts.forwarded);
  EXPECT_EQ(0u, counts.queued);
  EXPECT_EQ(0, queue.Push(7, "late", "stream")) << "a closed queue refuses";
}

TEST_F(QueueTest, AnOperationOrvexKeepsRefusingStepsAsideForLaterOnesButIsNeverDropped) {
  for (bool withJournal : {false, true}) {
    SCOPED_TRACE(withJournal ? "file" : "memory");
    RecordingForwarder forwarder;
    // In memory "poison" goes through on its fifth try, after the others; on disk it never
    // does during this run.
    forwarder.failures = {{"flaky", 2}, {"poison", withJournal ? -1 : 4}};
    OperationQueue queue(withJournal ? Journal() : nullptr, kFastRetries);
    ASSERT_EQ(1, queue.Start(&forwarder));
    for (const char* id : {"a", "flaky", "b", "poison", "c"}) queue.Push(1, id, std::string("stream of ") + id);
    EXPECT_EQ(0u, queue.Close(5000));

    EXPECT_EQ(3, forwarder.tries["flaky"]) << "a failure is retried before later operations";
    EXPECT_EQ(1u, queue.Counts().setAside);
    std::vector<std::string> expected{"a", "flaky", "b", "c"};
    if (!withJournal) {
      expected.push_back("poison");
      EXPECT_EQ(expected, forwarder.AcceptedIds());
      continue;
    }
    EXPECT_EQ(expected, forwarder.AcceptedIds());
    const std::string setAside = sandbox.Path("TestLst.setaside");
    EXPECT_NE(std::string::npos,
              TestSandbox::ReadFile(sandbox.TraceFile()).find("refused 3 times; it is set aside in " + setAside));

    // The next start tries it again, once, with its stream intact.
    RecordingForwarder restarted;
    OperationQueue again(Journal(), kFastRetries);
    ASSERT_EQ(1, again.Start(&restarted));
    EXPECT_EQ(0u, again.Close(5000));
    ASSERT_EQ(1u, restarted.accepted.size());
    EXPECT_EQ("poison", restarted.accepted[0].id);
    EXPECT_EQ("stream of poison", restarted.accepted[0].stream);
    EXPECT_EQ("", TestSandbox::ReadFile(setAside));
    EXPECT_TRUE(ReplayWith(Journal()).empty());
  }
}

TEST_F(QueueTest, AForwarderThatCannotBeginEndsTheQueueAtStart) {
  RecordingForwarder forwarder;
  forwarder.beginResult = 0;
  OperationQueue queue(nullptr, kFastRetries);
  EXPECT_EQ(0, queue.Start(&forwarder));
  EXPECT_TRUE(forwarder.finished);
  EXPECT_EQ(0, queue.Push(7, "x", "y"));
}

TEST_F(QueueTest, WhatIsNotForwardedBeforeTheDrainEndsStaysOnDiskOnlyWithTheJournal) {
  for (bool withJournal : {false, true}) {
    SCOPED_TRACE(withJournal ? "file" : "memory");
    RecordingForwarder forwarder;
    forwarder.hold = true;
    forwarder.failures = {{"1", -1}};  // "1" fails once released, so the drain runs out
    OperationQueue queue(withJournal ? Journal() : nullptr, {50, 50, 1000});
    ASSERT_EQ(1, queue.Start(&forwarder));
    for (int i = 1; i <= 3; ++i) queue.Push(1, std::to_string(i), "s");
    std::thread releaser([&forwarder] {
      Sleep(50);
      forwarder.Release();
    });
    EXPECT_EQ(3u, queue.Close(300)) << "the drain ends at its time limit however often \"1\" is tried";
    releaser.join();
    const std::vector<std::string> replayed = ReplayWith(Journal());
    EXPECT_EQ(withJournal ? std::vector<std::string>({"1", "2", "3"}) : std::vector<std::string>(), replayed);
  }
}

TEST_F(QueueTest, AReplayedOperationKeepsItsCodeIdentifierAndStreamByteForByte) {
  {
    RecordingForwarder forwarder;
    forwarder.hold = true;
    OperationQueue queue(Journal(), kFastRetries);
    ASSERT_EQ(1, queue.Start(&forwarder));
    queue.Push(12, "id|with=odd\nbytes", std::string("line one\nline two\0three", 23));
    queue.Push(7, "", "");
    EXPECT_EQ(2u, CloseAsIfKilled(queue, forwarder));
  }
  RecordingForwarder forwarder;
  OperationQueue queue(Journal(), kFastRetries);
  ASSERT_EQ(1, queue.Start(&forwarder));
  EXPECT_EQ(0u, queue.Close(5000));
  ASSERT_EQ(2u, forwarder.accepted.size());
  EXPECT_EQ(12, forwarder.accepted[0].operation);
  EXPECT_EQ("id|with=odd\nbytes", forwarder.accepted[0].id);
  EXPECT_EQ(std::string("line one\nline two\0three", 23), forwarder.accepted[0].stream);
  EXPECT_EQ(7, forwarder.accepted[1].operation);
  EXPECT_EQ("", forwarder.accepted[1].id);
}

TEST_F(QueueTest, ATornOrDamagedTailIsIgnoredAndLaterAppendsAreStillReplayed) {
  const std::string path = sandbox.Path("TestLst.journal");
  for (const char* damage : {"cut", "flipped", "garbage length"}) {
    SCOPED_TRACE(damage);
    std::remove(path.c_str());
    std::remove(sandbox.Path("TestLst.ack").c_str());
    AppendTwo("", false);
    std::string bytes = TestSandbox::ReadFile(path);
    if (std::string(damage) == "cut") bytes.resize(bytes.size() - 1);
    if (std::string(damage) == "flipped") bytes[bytes.size() - 1] ^= 0x20;
    if (std::string(damage) == "garbage length") bytes += std::string("\xff\xff\xff\x7f", 4);
    TestSandbox::WriteFile(path, bytes);

    OperationJournal journal(sandbox.Dir(), "TestLst");
    std::vector<QueuedOperation> pending;
    ASSERT_EQ(1, journal.Open(&pending));
    ASSERT_EQ(std::string(damage) == "garbage length" ? 2u : 1u, pending.size());
    EXPECT_EQ("1", pending[0].id);
    uint64_t end = 0;
    ASSERT_EQ(1, journal.Append({1, "three", "s3", 0}, &end));

    OperationJournal reopened(sandbox.Dir(), "TestLst");
    ASSERT_EQ(1, reopened.Open(&pending));
    EXPECT_EQ("three", pending.back().id);
  }
}

TEST_F(QueueTest, AnAckOffsetThatIsNoRecordBoundaryOrUnreadableMeansReplayFromTheStart) {
  const std::string journalPath = sandbox.Path("TestLst.journal");
  const std::string ackPath = sandbox.Path("TestLst.ack");
  // Past the end: a crash while the journal was being emptied.
  AppendTwo("old", true);
  const std::string staleAck = TestSandbox::ReadFile(ackPath);
  TestSandbox::WriteFile(journalPath, "");
  AppendTwo("new", false);
  EXPECT_EQ((std::vector<std::string>{"new1", "new2"}), ReplayWith(Journal()))
      << "the stale offset must not hide what was appended after the restart";

  // Inside a record: an offset into records that are gone.
  AppendTwo("a longer identifier ", false);
  TestSandbox::WriteFile(ackPath, staleAck);
  EXPECT_EQ((std::vector<std::string>{"a longer identifier 1", "a longer identifier 2"}), ReplayWith(Journal()));
  EXPECT_NE(std::string::npos, TestSandbox::ReadFile(sandbox.TraceFile()).find("falls inside a record of " + journalPath));

  AppendTwo("", true);
  TestSandbox::WriteFile(ackPath, "not an offset");
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), ReplayWith(Journal()));
  EXPECT_TRUE(ReplayWith(Journal()).empty());
}

// rename and unlink fail on the calls whose numbers (from 1, per kind) are listed, as on a
// file system without free inodes or with a failing disk.
std::vector<int> gFailingRenames, gFailingUnlinks;
int gRenames = 0, gUnlinks = 0;
int SometimesFailingRename(const char* from, const char* to) {
  if (std::find(gFailingRenames.begin(), gFailingRenames.end(), ++gRenames) != gFailingRenames.end()) {
    errno = ENOSPC;
    return -1;
  }
  return JournalIo::System().rename(from, to);
}
int SometimesFailingUnlink(const char* path) {
  if (std::find(gFailingUnlinks.begin(), gFailingUnlinks.end(), ++gUnlinks) != gFailingUnlinks.end()) {
    errno = EIO;
    return -1;
  }
  return JournalIo::System().unlink(path);
}

TEST_F(QueueTest, AnAckFileThatCannotBeReplacedOrRemovedNeverHidesLaterOperations) {
  JournalIo io = JournalIo::System();
  io.rename = SometimesFailingRename;
  io.unlink = SometimesFailingUnlink;
  struct Case {
    std::vector<int> renames, unlinks;
    std::vector<std::string> taken;  // of "new1" to "new3", what Append took
  };
  const std::vector<Case> cases{
      {{1}, {}, {"new1", "new2", "new3"}},  // moving the offset past "old1"
      {{2}, {}, {"new1", "new2", "new3"}},  // any later replacement, should emptying make one
      {{}, {1, 2}, {"new2", "new3"}},       // removing it when the journal empties, and again
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.renames) + " " + ::testing::PrintToString(c.unlinks));
    gFailingRenames = c.renames;
    gFailingUnlinks = c.unlinks;
    gRenames = gUnlinks = 0;
    std::vector<std::string> taken;
    {
      OperationJournal journal(sandbox.Dir(), "TestLst", io);
      std::vector<QueuedOperation> pending;
      ASSERT_EQ(1, journal.Open(&pending));
      // Records of one size: an offset left from the old ones falls on a new boundary.
      uint64_t first = 0, end = 0;
      ASSERT_EQ(1, journal.Append({1, "old1", "s", 0}, &first));
      ASSERT_EQ(1, journal.Append({1, "old2", "s", 0}, &end));
      journal.Acknowledge(first);
      journal.Acknowledge(end);  // empties the journal
      for (const char* id : {"new1", "new2", "new3"})
        if (journal.Append({1, id, "s", 0}, &end)) taken.push_back(id);
    }
    EXPECT_EQ(c.taken, taken) << "an append behind a stale offset is refused";
    gFailingRenames.clear();
    gFailingUnlinks.clear();
    EXPECT_EQ(c.taken, ReplayWith(Journal()));
  }
}

// Write and fsync fail on demand, as on a full or failing disk.
std::atomic<bool> gFailWrites{false};
long long FailingWrite(int fd, const void* data, unsigned long long size) {
  if (gFailWrites) {
    // Half the record reaches the file before the error, the worst case for replay.
    if (size > 1) JournalIo::System().write(fd, data, size / 2);
    errno = ENOSPC;
    return -1;
  }
  return JournalIo::System().write(fd, data, size);
}

TEST_F(QueueTest, AnOperationTheJournalCannotWriteIsRefusedAndTheOutageIsTracedOnce) {
  JournalIo io = JournalIo::System();
  io.write = FailingWrite;
  RecordingForwarder forwarder;
  forwarder.hold = true;
  OperationQueue queue(Journal(io), kFastRetries);
  ASSERT_EQ(1, queue.Start(&forwarder));
  EXPECT_EQ(1, queue.Push(1, "kept", "s"));
  gFailWrites = true;
  for (const char* id : {"refused1", "refused2", "refused3"}) EXPECT_EQ(0, queue.Push(1, id, "s"));
  gFailWrites = false;
  EXPECT_EQ(1, queue.Push(1, "kept too", "s"));
  EXPECT_EQ(2u, queue.Counts().received);
  EXPECT_EQ(2u, queue.Counts().queued) << "nothing refused waits in memory";
  // Killed before forwarding anything: the records around the failed writes are intact.
  EXPECT_EQ(2u, CloseAsIfKilled(queue, forwarder));
  EXPECT_EQ((std::vector<std::string>{"kept", "kept too"}), ReplayWith(Journal()));

  const std::string trace = TestSandbox::ReadFile(sandbox.TraceFile());
  size_t outages = 0;
  for (size_t at = trace.find("operations are refused until"); at != std::string::npos;
       at = trace.find("operations are refused until", at + 1))
    ++outages;
  EXPECT_EQ(1u, outages) << trace;
  EXPECT_NE(std::string::npos, trace.find("Unable to write operation 1 (id refused1)")) << trace;
  EXPECT_NE(std::string::npos, trace.find("can be written again; 3 operation(s) were refused meanwhile")) << trace;
}

TEST_F(QueueTest, AnOperationThatCannotBeSetAsideStaysAtTheHeadAndIsTriedOn) {
  JournalIo io = JournalIo::System();
  io.write = FailingWrite;
  RecordingForwarder forwarder;
  forwarder.hold = true;
  forwarder.failures = {{"refused", 4}};  // three tries, a failed set-aside, then through
  OperationQueue queue(Journal(io), kFastRetries);
  ASSERT_EQ(1, queue.Start(&forwarder));
  queue.Push(1, "refused", "s");
  queue.Push(1, "after", "s");
  gFailWrites = true;
  forwarder.Release();
  EXPECT_EQ(0u, queue.Close(5000));
  gFailWrites = false;
  EXPECT_EQ((std::vector<std::string>{"refused", "after"}), forwarder.AcceptedIds());
  EXPECT_EQ(0u, queue.Counts().setAside);
  EXPECT_NE(std::string::npos, TestSandbox::ReadFile(sandbox.TraceFile()).find("cannot be set aside"));
  EXPECT_EQ("", TestSandbox::ReadFile(sandbox.Path("TestLst.setaside")));
}

}  // namespace
