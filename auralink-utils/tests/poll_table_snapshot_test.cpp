// Snapshots of a polled table and their comparison: grouping joined rows into objects and
// telling which objects came, changed and went.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "poll/snapshot_query.h"
#include "poll/table_snapshot.h"

namespace {

using auralink::poll::BuildSnapshotQuery;
using auralink::poll::CompareSnapshots;
using auralink::poll::SnapshotBuilder;
using auralink::poll::SnapshotQuery;
using auralink::poll::TableChange;
using auralink::poll::TableSnapshot;

// The repository's object table with its parents and status, as the instance agent polls it.
SnapshotQuery RepositoryQuery() {
  return BuildSnapshotQuery("objects", {"uuid", "stamp"}, {"uuid"}, {"objects", "parents", "status"},
                            {"objects.name", "objects.stamp", "parents.parent_class", "parents.parent_uuid",
                             "status.status_text"},
                            {"objects.uuid", "parents.child_uuid", "objects.status_no", "status.status_no"});
}

// One joined row: uuid, stamp, name, parent_class, parent_uuid, status_text.
TabEntry Row(std::string uuid, std::string stamp, std::string name, std::string parentClass, std::string parentUuid,
             std::string status) {
  return TabEntry({uuid, stamp, name, parentClass, parentUuid, status});
}

using Change = std::tuple<int, std::string, std::string>;

std::vector<Change> Changes(const SnapshotQuery& query, const std::vector<TabEntry>& before,
                            const std::vector<TabEntry>& after) {
  std::vector<Change> changes;
  CompareSnapshots(TableSnapshot::Build(query, before), TableSnapshot::Build(query, after),
                   [&](TableChange change, std::string_view key, std::string_view stream) {
                     changes.emplace_back(change, std::string(key), std::string(stream));
                     return true;
                   });
  return changes;
}

TEST(TableSnapshotTest, JoinedRowsBecomeOneObjectWithNumberedParents) {
  SnapshotQuery query = RepositoryQuery();
  ASSERT_EQ(query.columns.size(), 6u);  // stamp once, though both selected and an update field

  // The same object with two parents, its rows in either order, and one without a parent.
  std::vector<TabEntry> rows = {Row("B", "t1", "orphan", "", "", "Normal"),
                                Row("A", "t1", "child", "Host", "P2", "Warning"),
                                Row("A", "t1", "child", "Net", "P1", "Warning")};
  std::vector<TabEntry> reversed = {rows[0], rows[2], rows[1]};
  TableSnapshot snapshot = TableSnapshot::Build(query, rows);
  ASSERT_EQ(snapshot.Size(), 2u);
  EXPECT_EQ(snapshot.Key(0), "uuid=A|");
  EXPECT_EQ(snapshot.Stream(0),
            "stamp=t1|name=child|parent_class=Host|parent_uuid=P2|parent_class#1=Net|parent_uuid#1=P1|"
            "status_text=Warning|");
  EXPECT_EQ(snapshot.Key(1), "uuid=B|");
  EXPECT_EQ(snapshot.Stream(1), "stamp=t1|name=orphan|status_text=Normal|");
  EXPECT_EQ(TableSnapshot::Build(query, reversed).Stream(0), snapshot.Stream(0));

  // A duplicated joined row is one parent, not two.
  rows.push_back(rows[1]);
  EXPECT_EQ(TableSnapshot::Build(query, rows).Stream(0), snapshot.Stream(0));
}

TEST(TableSnapshotTest, ComparisonReportsCreatedModifiedAndDeletedObjects) {
  SnapshotQuery query = RepositoryQuery();
  std::vector<TabEntry> before = {Row("A", "t1", "a", "Net", "P1", "Normal"), Row("B", "t1", "b", "", "", "Normal"),
                                  Row("C", "t1", "c", "", "", "Normal"), Row("D", "t1", "d", "Net", "P1", "Normal")};
  std::vector<TabEntry> after = {
      Row("A", "t1", "a", "Net", "P1", "Normal"),   // unchanged
      Row("B", "t1", "b", "", "", "Critical"),      // status text changed
      Row("D", "t1", "d", "Net", "P1", "Normal"),   // a second parent came
      Row("D", "t1", "d", "Host", "P9", "Normal"),  //
      Row("E", "t2", "e", "", "", "Normal"),        // new
  };
  std::vector<Change> expected = {
      {2, "uuid=B|", "stamp=t1|name=b|status_text=Critical|"},
      {3, "uuid=C|", "stamp=t1|name=c|status_text=Normal|"},  // the object as it was
      {2, "uuid=D|", "stamp=t1|name=d|parent_class=Host|parent_uuid=P9|parent_class#1=Net|parent_uuid#1=P1|"
                     "status_text=Normal|"},
      {1, "uuid=E|", "stamp=t2|name=e|status_text=Normal|"},
  };
  EXPECT_EQ(Changes(query, before, after), expected);
  EXPECT_TRUE(Changes(query, after, after).empty());
  // Only a watched column changing is a modification too.
  std::vector<TabEntry> stamped = after;
  stamped[0] = Row("A", "t9", "a", "Net", "P1", "Normal");
  ASSERT_EQ(Changes(query, after, stamped).size(), 1u);
  EXPECT_EQ(std::get<0>(Changes(query, after, stamped)[0]), 2);
}

TEST(TableSnapshotTest, KeysOfSeveralColumnsIdentifyRowsTogether) {
  // Two key columns: the key stream names both; rows differing in either are two objects.
  SnapshotQuery keyed = BuildSnapshotQuery("t", {"a", "b", "v"}, {"a", "b"}, {}, {}, {});
  std::vector<TabEntry> rows = {TabEntry({"1", "x", "old"}), TabEntry({"1", "y", "old"})};
  std::vector<TabEntry> changed = {TabEntry({"1", "x", "new"}), TabEntry({"1", "y", "old"})};
  std::vector<Change> expected = {{2, "a=1|b=x|", "v=new|"}};
  EXPECT_EQ(Changes(keyed, rows, changed), expected);
}

TEST(TableSnapshotTest, AnyTextSurvivesAndNoValueForgesAPairOrAKey) {
  // Values holding the bytes the snapshot uses inside, identifiers and texts that nearly
  // are, keys that are the beginning of one another, in one key column and across two, and
  // values holding "|" that would otherwise make pairs of their own: the two keys that
  // would read "a=x|b=y|b=z|" and a value that would add "action=remove".
  SnapshotQuery keyed = BuildSnapshotQuery("t", {"a", "b", "v"}, {"a", "b"}, {}, {}, {});
  const std::string bar = "\xC2\xA6";  // "¦", which a "|" in a value becomes
  const std::string odd("x\0y\1z\2|=", 8), oddShown = std::string("x\0y\1z\2", 6) + bar + "=";
  const std::string id = "0123ABCD-4567-89EF-0A1B-2C3D4E5F6A7B", lower = "0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b";
  const std::string marked = "\2" + id.substr(0, 16);
  std::vector<TabEntry> rows = {TabEntry({"A", "", "1"}),   TabEntry({"AB", "", "2"}),      TabEntry({"A", "B", "3"}),
                                TabEntry({"", "AB", "4"}),  TabEntry({odd, odd, odd}),      TabEntry({id, lower, id}),
                                TabEntry({id, marked, id}), TabEntry({id, id + "0", lower}),
                                TabEntry({"x|b=y", "z", "5"}), TabEntry({"x", "y|b=z", "6|action=remove"})};
  TableSnapshot snapshot = TableSnapshot::Build(keyed, rows);
  ASSERT_EQ(snapshot.Size(), rows.size());
  std::vector<std::string> keys, streams;
  for (size_t i = 0; i < snapshot.Size(); ++i) {
    keys.push_back(snapshot.Key(i));
    streams.push_back(snapshot.Stream(i));
  }
  std::sort(keys.begin(), keys.end());
  std::sort(streams.begin(), streams.end());
  std::vector<std::string> expected = {"a=A|b=B|",
                                       "a=A|b=|",
                                       "a=AB|b=|",
                                       "a=" + oddShown + "|b=" + oddShown + "|",
                                       "a=|b=AB|",
                                       "a=" + id + "|b=" + lower + "|",
                                       "a=" + id + "|b=" + marked + "|",
                                       "a=" + id + "|b=" + id + "0|",
                                       "a=x" + bar + "b=y|b=z|",
                                       "a=x|b=y" + bar + "b=z|"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(keys, expected);
  expected = {"v=1|", "v=2|", "v=3|", "v=4|", "v=" + oddShown + "|", "v=" + id + "|", "v=" + id + "|",
              "v=" + lower + "|", "v=5|", "v=6" + bar + "action=remove|"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(streams, expected);

  // Only the odd value changing is a modification, reported with its text as it is.
  std::vector<TabEntry> changed = rows;
  changed[4] = TabEntry({odd, odd, odd + "!"});
  std::vector<Change> changes = Changes(keyed, rows, changed);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(std::get<0>(changes[0]), 2);
  EXPECT_EQ(std::get<1>(changes[0]), "a=" + oddShown + "|b=" + oddShown + "|");
  EXPECT_EQ(std::get<2>(changes[0]), "v=" + oddShown + "!|");
}

TEST(TableSnapshotTest, BuilderGroupsScatteredRowsAndForgetsAnAbandonedRead) {
  SnapshotQuery query = RepositoryQuery();
  SnapshotBuilder builder(query);
  // A read that broke off: its rows must not reach the snapshot of the read run again.
  builder.Row(Row("Z", "t1", "gone", "", "", "Normal"));
  builder.Row(Row("A", "t1", "old", "", "", "Normal"));
  builder.Restart();
  // The rows of one object need not come together.
  builder.Row(Row("A", "t1", "child", "Net", "P1", "Warning"));
  builder.Row(Row("B", "t1", "other", "", "", "Normal"));
  builder.Row(Row("A", "t1", "child", "Host", "P2", "Warning"));
  builder.Row(Row("A", "t1", "child", "Net", "P1", "Warning"));
  TableSnapshot snapshot = builder.Finish();
  ASSERT_EQ(snapshot.Size(), 2u);
  EXPECT_EQ(snapshot.Key(0), "uuid=A|");
  EXPECT_EQ(snapshot.Stream(0),
            "stamp=t1|name=child|parent_class=Host|parent_uuid=P2|parent_class#1=Net|parent_uuid#1=P1|"
            "status_text=Warning|");
  EXPECT_EQ(snapshot.Key(1), "uuid=B|");
  // Finish leaves the builder empty for the next snapshot.
  EXPECT_EQ(builder.Finish().Size(), 0u);
}

}  // namespace
