// The table poller at work: its thread's rules (baseline, failed snapshots, start and stop)
// with scripted snapshots, then against a stand-in repository whose rows the test changes.
#include <auralink/db_manager.h>
#include <auralink/db_poll_thread.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "db_test_repository.h"
#include "poll/snapshot_query.h"
#include "poll/table_snapshot.h"

namespace {

using auralink::testing::SqliteFile;
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

// Keeps what the polling thread reports.
template <typename Base>
class Recording : public Base {
 public:
  using Base::Base;
  ~Recording() override { this->Stop(); }
  void OnTableEvent(short operation, std::string key, std::string stream) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(operation, std::move(key), std::move(stream));
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  size_t EventCount() { return Events().size(); }

 private:
  std::mutex mutex_;
  std::vector<Event> events_;
};

// A poller of a table (uuid, v) whose snapshots come from a script: each entry a list of
// uuids, or nothing for a failed snapshot; the last entry repeats.
class ScriptedPoller : public DbPollThrd {
 public:
  using Script = std::vector<std::optional<Strings>>;
  ScriptedPoller(Script script, int interval = 1)
      : DbPollThrd("scripted", "Instances", interval, "t", Columns(), Keys(), NoColumns(), NoColumns(), NoColumns()),
        script_(std::move(script)) {}
  int GetInitialSnapshot(Strings& columns, std::vector<TabEntry>& rows) override { return Next(columns, rows); }
  int GetSnapshot(Strings& columns, std::vector<TabEntry>& rows) override { return Next(columns, rows); }
  std::atomic<int> taken{0};

 private:
  static Strings& Columns() { static Strings columns{"uuid", "v"}; return columns; }
  static Strings& Keys() { static Strings keys{"uuid"}; return keys; }
  static Strings& NoColumns() { static Strings none; return none; }

  int Next(Strings& columns, std::vector<TabEntry>& rows) {
    const std::optional<Strings>& step = script_[std::min<size_t>(static_cast<size_t>(taken.load()), script_.size() - 1)];
    ++taken;
    rows.clear();
    columns = {"t.uuid", "t.v"};
    if (!step) {
      SetSnapshotError("the scripted data source is down");
      return 0;
    }
    for (const std::string& uuid : *step) rows.push_back(TabEntry({uuid, "x"}));
    return 1;
  }
  Script script_;
};

class TablePollerTest : public StandInRepositoryTest {};

TEST_F(TablePollerTest, FailedSnapshotsAreNeverComparedAndAnOutageIsTracedOnce) {
  // Baseline A and B; two failed snapshots (which hold no rows at all); then B is really gone.
  Recording<ScriptedPoller> poller(ScriptedPoller::Script{Strings{"A", "B"}, std::nullopt, std::nullopt, Strings{"A"}});
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

TEST_F(TablePollerTest, EachStartTakesANewBaselineAndStopAndDestructionJoinTheThread) {
  Recording<ScriptedPoller> poller(ScriptedPoller::Script{Strings{"A"}, Strings{"A", "B"}, Strings{"A", "B", "C"}},
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
  ASSERT_TRUE(WaitFor([&] { return poller.EventCount() >= 1; }));
  std::vector<Event> expected = {{1, "uuid=C|", "v=x|"}};
  EXPECT_EQ(poller.Events(), expected);
  // Stopped from inside a report: the rest of the reports are dropped, nothing hangs.
  struct SelfStopping : ScriptedPoller {
    using ScriptedPoller::ScriptedPoller;
    ~SelfStopping() override { Stop(); }
    void OnTableEvent(short, std::string, std::string) override {
      ++reports;
      Stop();
    }
    std::atomic<int> reports{0};
  } selfStopping(ScriptedPoller::Script{Strings{"A"}, Strings{"A", "B", "C"}});
  selfStopping.Start();
  ASSERT_TRUE(WaitFor([&] { return selfStopping.reports >= 1; }));
  Sleep(100);
  EXPECT_EQ(selfStopping.reports, 1);
  // Destroyed while running: the destructor ends the thread (the sanitizers watch).
  auto running = std::make_unique<Recording<ScriptedPoller>>(ScriptedPoller::Script{Strings{"A"}});
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

// The fields of an attribute text: plain fields by name, parents as (class, uuid) pairs.
struct Fields {
  std::map<std::string, std::string> plain;
  std::multiset<std::pair<std::string, std::string>> parents;
  bool operator==(const Fields&) const = default;
};

Fields Parse(const std::string& text) {
  Fields fields;
  std::string parentClass;
  for (size_t start = 0, end; (end = text.find('|', start)) != std::string::npos; start = end + 1) {
    std::string field = text.substr(start, end - start);
    size_t equals = field.find('=');
    std::string name = field.substr(0, equals), value = field.substr(equals + 1);
    name = name.substr(0, name.find('#'));
    if (name == "parent_class")
      parentClass = value;
    else if (name == "parent_uuid")
      fields.parents.emplace(parentClass, value);
    else
      fields.plain[name] = value;
  }
  return fields;
}

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
    if (columns[c] != "parent_class" && columns[c] != "parent_uuid") text += columns[c] + "=" + rows[0][c] + "|";
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < columns.size(); ++c)
      if (columns[c] == "parent_class" || columns[c] == "parent_uuid")
        text += columns[c] + (r ? "#" + std::to_string(r) : "") + "=" + rows[r][c] + "|";
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
    EXPECT_EQ(Parse(stream), Parse(*discovered)) << id << "\npoller:    " << stream << "\ndiscovery: " << *discovered;
  }
  EXPECT_GT(compared, 100);
}

TEST_F(TablePollerTest, RepositoryChangesAreReportedAndAnOutageReportsNothing) {
  std::string file = Generate(40, 3);
  std::string dsn = Register(file);
  DefaultEntry entry;
  Recording<RepositoryPoller> poller(dsn, entry);
  SqliteFile db(file);
  auto firstIds = db.Rows("SELECT hex(uuid) FROM tng_managedobject ORDER BY rowid LIMIT 3");
  ASSERT_EQ(firstIds.size(), 3u);
  ASSERT_EQ(poller.Start(), 1);
  ASSERT_TRUE(WaitFor([&] { return Trace().find("Baseline of the table tng_managedobject taken: 40") != std::string::npos; }))
      << Trace();

  // A new object under the first one; the second's status changes; the third goes.
  const std::string created = "X'00112233445566778899AABBCCDDEEFF'";
  ASSERT_TRUE(db.Exec("INSERT INTO tng_managedobject VALUES (" + created +
                      ", 'new-host', NULL, '10.1.1.1', 1, 'Workstation', 2, '2026-01-01 00:00:00', "
                      "'2026-01-01 00:00:00', (SELECT MIN(status_no) FROM tng_status));"
                      "INSERT INTO tng_inclusion VALUES (" + created + ", 'Router', X'" + firstIds[0][0] + "');"
                      "UPDATE tng_managedobject SET status_no = (SELECT MAX(status_no) FROM tng_status WHERE "
                      "status_no <> tng_managedobject.status_no) WHERE uuid = X'" + firstIds[1][0] + "';"
                      "DELETE FROM tng_inclusion WHERE child_uuid = X'" + firstIds[2][0] + "';"
                      "DELETE FROM tng_managedobject WHERE uuid = X'" + firstIds[2][0] + "'"));
  ASSERT_TRUE(WaitFor([&] { return poller.EventCount() >= 3; })) << Trace();
  std::map<int, Event> byOperation;
  for (const Event& event : poller.Events()) byOperation[std::get<0>(event)] = event;
  ASSERT_EQ(poller.EventCount(), 3u);
  // Identifiers in their text form: bytes 00112233... read as SQL Server shows them.
  EXPECT_EQ(std::get<1>(byOperation[1]), "uuid=33221100-5544-7766-8899-AABBCCDDEEFF|");
  Fields createdFields = Parse(std::get<2>(byOperation[1]));
  EXPECT_EQ(createdFields.plain["name"], "new-host");
  EXPECT_EQ(createdFields.plain["class_name"], "Workstation");
  ASSERT_EQ(createdFields.parents.size(), 1u);
  EXPECT_EQ(createdFields.parents.begin()->first, "Router");
  EXPECT_EQ(createdFields.parents.begin()->second.size(), 36u);
  EXPECT_FALSE(Parse(std::get<2>(byOperation[2])).plain["status_text"].empty());
  EXPECT_FALSE(Parse(std::get<2>(byOperation[3])).plain["class_name"].empty());  // the object as it was

  // The status table vanishes: the snapshots fail and nothing is reported, not even for
  // the objects whose status can no longer be read; back again, nothing has changed.
  ASSERT_TRUE(db.Exec("ALTER TABLE tng_status RENAME TO tng_status_away"));
  ASSERT_TRUE(WaitFor([&] { return Trace().find("cannot be polled") != std::string::npos; })) << Trace();
  ASSERT_TRUE(db.Exec("ALTER TABLE tng_status_away RENAME TO tng_status"));
  ASSERT_TRUE(WaitFor([&] { return Trace().find("Polling of the table tng_managedobject resumed") != std::string::npos; }));
  Sleep(1200);  // one more comparison
  EXPECT_EQ(poller.EventCount(), 3u) << Trace();
}

}  // namespace
