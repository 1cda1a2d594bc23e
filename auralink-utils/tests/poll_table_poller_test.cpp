// The table poller at work: its thread's rules (baseline, failed snapshots, start and stop)
// with scripted snapshots, and its streams of a stand-in repository's objects. (Changes to
// a repository are followed end to end by the table listener's tests.)
#include <auralink/attribute_text.h>
#include <auralink/db_manager.h>
#include <auralink/db_poll_thread.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>

#include "attribute_fields.h"
#include "db_test_repository.h"
#include "poll/snapshot_query.h"
#include "poll/table_snapshot.h"

namespace {

using auralink::testing::ParseAttributeText;
using auralink::testing::StandInRepositoryTest;
using auralink::testing::TestSandbox;
using Event = std::tuple<int, std::string, std::string>;
using Strings = std::vector<std::string>;

// Waits up to `seconds` for `condition`.
template <typename Condition>
bool WaitFor(Condition condition, int seconds = 6) {
  for (int i = 0; i < seconds * 100 && !condition(); ++i) Sleep(10);
  return condition();
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A poller of a table (uuid, v) whose snapshots come from a script: each entry a list of
// uuids, or nothing for a failed snapshot; the last entry repeats. It keeps its reports,
// and may stop itself from inside one.
class ScriptedPoller : public DbPollThrd {
 public:
  using Script = std::vector<std::optional<Strings>>;
  ScriptedPoller(Script script, int interval = 1, bool stopOnReport = false)
      : DbPollThrd("scripted", "Instances", interval, "t", Columns(), Keys(), NoColumns(), NoColumns(), NoColumns()),
        script_(std::move(script)),
        stopOnReport_(stopOnReport) {}
  ~ScriptedPoller() override { Stop(); }
  int TakeSnapshot(bool, Strings& columns, DBManager::RowReceiver& rows) override { return Next(columns, rows); }
  int OnTableEvent(short operation, std::string key, std::string stream) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.emplace_back(operation, std::move(key), std::move(stream));
    }
    if (stopOnReport_) Stop();
    return refusals.fetch_sub(1) > 0 ? 0 : 1;
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::atomic<int> taken{0};
  std::atomic<int> refusals{0};  // how many reports to refuse, as a sink that cannot queue would

 private:
  static Strings& Columns() { static Strings columns{"uuid", "v"}; return columns; }
  static Strings& Keys() { static Strings keys{"uuid"}; return keys; }
  static Strings& NoColumns() { static Strings none; return none; }

  int Next(Strings& columns, DBManager::RowReceiver& rows) {
    const std::optional<Strings>& step = script_[std::min<size_t>(static_cast<size_t>(taken.load()), script_.size() - 1)];
    ++taken;
    rows.Restart();
    columns = {"t.uuid", "t.v"};
    if (!step) {
      SetSnapshotError("the scripted data source is down");
      return 0;
    }
    for (const std::string& uuid : *step) rows.Row(TabEntry({uuid, "x"}));
    return 1;
  }
  Script script_;
  const bool stopOnReport_;
  std::mutex mutex_;
  std::vector<Event> events_;
};

class TablePollerTest : public StandInRepositoryTest {};

TEST_F(TablePollerTest, FailedSnapshotsAreNeverComparedAndAnOutageIsTracedOnce) {
  // Baseline A and B; two failed snapshots (which hold no rows at all); then B is really gone.
  ScriptedPoller poller(ScriptedPoller::Script{Strings{"A", "B"}, std::nullopt, std::nullopt, Strings{"A"}});
  ASSERT_EQ(poller.Start(), 1);
  ASSERT_TRUE(WaitFor([&] { return poller.taken >= 5; }));
  poller.Stop();
  std::vector<Event> expected = {{3, "uuid=B|", "v=x|"}};
  EXPECT_EQ(poller.Events(), expected);
  std::string trace = Trace();
  EXPECT_EQ(Count(trace, "The table t (data source scripted) cannot be polled: the scripted data source is down"), 1)
      << trace;
  EXPECT_EQ(Count(trace, "Polling of the table t resumed"), 1) << trace;
}

TEST_F(TablePollerTest, AChangeTheListenerRefusedIsReportedAgainNextInterval) {
  // A sink whose queue cannot write refuses B's arrival once; the baseline stays A, so the
  // next interval reports B again, and after that nothing.
  ScriptedPoller poller(ScriptedPoller::Script{Strings{"A"}, Strings{"A", "B"}});
  poller.refusals = 1;
  ASSERT_EQ(poller.Start(), 1);
  ASSERT_TRUE(WaitFor([&] { return poller.taken >= 4; }));
  poller.Stop();
  std::vector<Event> expected = {{1, "uuid=B|", "v=x|"}, {1, "uuid=B|", "v=x|"}};
  EXPECT_EQ(poller.Events(), expected);
  EXPECT_EQ(Count(Trace(), "1 change(s) of the table t were not taken; they are reported again next interval"), 1)
      << Trace();
}

TEST_F(TablePollerTest, EachStartTakesANewBaselineAndStopAndDestructionJoinTheThread) {
  ScriptedPoller poller(ScriptedPoller::Script{Strings{"A"}, Strings{"A", "B"}, Strings{"A", "B", "C"}},
                                   /*interval*/ 0);
  EXPECT_EQ(poller.GetPollInterval(), 1);  // raised from 0
  EXPECT_EQ(poller.Stop(), 1);             // never started
  ASSERT_EQ(poller.Start(), 1);
  ASSERT_EQ(poller.Start(), 1);  // already running: still one thread
  ASSERT_TRUE(WaitFor([&] { return poller.taken >= 1; }));
  poller.Stop();
  poller.Stop();
  EXPECT_FALSE(poller.IsRunning());
  EXPECT_EQ(poller.taken, 1);

  // Restarted: A,B is the new baseline, so only C is new.
  ASSERT_EQ(poller.Start(), 1);
  ASSERT_TRUE(WaitFor([&] { return poller.Events().size() >= 1; }));
  std::vector<Event> expected = {{1, "uuid=C|", "v=x|"}};
  EXPECT_EQ(poller.Events(), expected);
  // Stopped from inside a report: the rest of the reports are dropped, nothing hangs.
  ScriptedPoller selfStopping(ScriptedPoller::Script{Strings{"A"}, Strings{"A", "B", "C"}}, 1, true);
  selfStopping.Start();
  ASSERT_TRUE(WaitFor([&] { return !selfStopping.Events().empty(); }));
  Sleep(100);
  EXPECT_EQ(selfStopping.Events().size(), 1u);
  // Destroyed while running: the destructor ends the thread (the sanitizers watch).
  auto running = std::make_unique<ScriptedPoller>(ScriptedPoller::Script{Strings{"A"}});
  running->Start();
  running.reset();
}

// ---- Against a stand-in repository, with the instance agent's default table entry ------

struct DefaultEntry {
  Strings select{"uuid", "date_modify"}, keys{"uuid"}, modify{"date_modify"};
  Strings fields{"tng_managedobject.name",        "tng_managedobject.label",     "tng_managedobject.address",
                 "tng_managedobject.address_type", "tng_managedobject.severity",  "tng_managedobject.date_ins",
                 "tng_managedobject.class_name",   "tng_managedobject.date_modify", "tng_inclusion.parent_class",
                 "tng_inclusion.parent_uuid",      "tng_status.status_text"};
  Strings tables{"tng_inclusion", "tng_managedobject", "tng_status"};
  Strings conditions{"tng_managedobject.uuid", "tng_inclusion.child_uuid", "tng_managedobject.status_no",
                     "tng_status.status_no"};
};

class RepositoryPoller : public DbPollThrd {
 public:
  RepositoryPoller(const std::string& dsn, DefaultEntry& e)
      : DbPollThrd(dsn, "Instances", 1, "tng_managedobject", e.select, e.keys, e.modify, e.fields, e.tables,
                   e.conditions) {}
};

// The instance text of one object, as the repository's discovery builds it.
std::optional<std::string> DiscoveryText(DBManager& db, const std::string& id) {
  const std::string select =
      "SELECT A.name,A.label,A.address,A.address_type,A.class_name,A.severity,A.date_ins,A.date_modify,B.status_text";
  const std::string match = "((A.uuid = CONVERT(varbinary, CONVERT(uniqueidentifier, '" + id +
                            "'))) AND (A.status_no = B.status_no)";
  std::vector<TabEntry> rows;
  Strings columns;
  if (db.MakeQuery(select + ",C.parent_class,CONVERT(uniqueidentifier,C.parent_uuid) AS parent_uuid FROM "
                   "tng_managedobject AS A, tng_status AS B, tng_inclusion AS C WHERE " + match +
                   " AND (A.uuid = C.child_uuid))",
                   rows, columns) != 0)
    return std::nullopt;
  if (rows.empty() &&
      db.MakeQuery(select + " FROM tng_managedobject AS A, tng_status AS B WHERE " + match + ")", rows, columns) != 0)
    return std::nullopt;
  if (rows.empty()) return std::nullopt;
  std::string text;
  for (size_t c = 0; c < columns.size(); ++c)
    if (columns[c] != "parent_class" && columns[c] != "parent_uuid")
      auralink::model::AppendPair(text, columns[c], rows[0][c]);
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < columns.size(); ++c)
      if (columns[c] == "parent_class" || columns[c] == "parent_uuid")
        auralink::model::AppendPair(text, columns[c] + (r ? "#" + std::to_string(r) : ""), rows[r][c]);
  return text;
}

TEST_F(TablePollerTest, EveryObjectStreamCarriesWhatTheDiscoveryReadsOfIt) {
  std::string dsn = Register(Generate(150, 7));
  DefaultEntry entry;
  RepositoryPoller poller(dsn, entry);
  Strings columns;
  std::vector<TabEntry> rows;
  ASSERT_EQ(poller.GetSnapshot(columns, rows), 1) << Trace();
  auto query = auralink::poll::BuildSnapshotQuery("tng_managedobject", entry.select, entry.keys, entry.tables,
                                                  entry.fields, entry.conditions);
  auto snapshot = auralink::poll::TableSnapshot::Build(query, rows);
  ASSERT_EQ(snapshot.Size(), 150u);  // every object, with parents or without

  DBManager db(dsn.c_str(), nullptr, nullptr);
  ASSERT_EQ(db.OpenDb(), 0);
  int compared = 0;
  for (size_t i = 0; i < snapshot.Size(); ++i) {
    std::string key(snapshot.Key(i));
    ASSERT_EQ(key.rfind("uuid=", 0), 0u);
    std::string id = key.substr(5, key.size() - 6);
    std::optional<std::string> discovered = DiscoveryText(db, id);
    if (!discovered) continue;  // an object without a status row: the discovery refuses it
    ++compared;
    std::string stream(snapshot.Stream(i));
    EXPECT_EQ(ParseAttributeText(stream), ParseAttributeText(*discovered)) << id << "\npoller:    " << stream << "\ndiscovery: " << *discovered;
  }
  EXPECT_GT(compared, 100);
}

TEST_F(TablePollerTest, GetSnapshotWhileThePollerRunsWaitsForTheCycleUnderWay) {
  // GetSnapshot on this thread against the polling cycles of the running thread: both read
  // through the poller's one connection, so no two snapshots may be taken at once. Each
  // snapshot lingers to widen the window a second one would fall into.
  class WatchedPoller : public RepositoryPoller {
   public:
    using RepositoryPoller::RepositoryPoller;
    ~WatchedPoller() override { Stop(); }
    int TakeSnapshot(bool initial, Strings& columns, DBManager::RowReceiver& rows) override {
      if (inside.fetch_add(1) > 0) ++overlaps;
      Sleep(20);
      const int taken = DbPollThrd::TakeSnapshot(initial, columns, rows);
      --inside;
      if (std::this_thread::get_id() != caller) ++polled;
      return taken;
    }
    std::atomic<int> inside{0}, overlaps{0}, polled{0};
    const std::thread::id caller = std::this_thread::get_id();
  };
  std::string dsn = Register(Generate(300, 11));
  DefaultEntry entry;
  WatchedPoller poller(dsn, entry);
  ASSERT_EQ(poller.Start(), 1);
  int snapshots = 0;
  while (poller.polled < 3) {
    Strings columns;
    std::vector<TabEntry> rows;
    ASSERT_EQ(poller.GetSnapshot(columns, rows), 1) << Trace();
    ASSERT_GE(rows.size(), 300u);  // an object with several parents gives several rows
    ++snapshots;
  }
  poller.Stop();
  EXPECT_EQ(poller.overlaps, 0) << snapshots << " snapshots beside " << poller.polled << " polling cycles";
  EXPECT_EQ(Trace().find("cannot be polled"), std::string::npos) << Trace();
}

}  // namespace
