// auralink-snapshot-bench: how fast and how compactly a table poller builds and compares
// snapshots of a large table (a measurement to run by hand, not a test).
//
//   auralink-snapshot-bench [--rows N] [--changes PERCENT]
//   auralink-snapshot-bench --repository FILE
//
// Two steps are measured: building the baseline, then one poll (building the next
// snapshot and comparing it with the baseline). Each prints its processor time and the
// peak resident size during the step: the high-water mark is reset before the step, so
// the figure is what the process holds at its fullest then, the baseline included.
//
// Made rows (the default): N rows (default 1,000,000) of a polled table like the
// repository's object table (identifier key, modification time, name, class, status
// text), then a second set in which PERCENT of the rows (default 1) are modified, as many
// deleted and as many created. The rows are made one at a time and handed to the snapshot
// builder, as the data source hands them to the polling thread; what making them costs
// alone is printed first, to be taken off the figures of the steps.
//
// A repository (a stand-in repository file from auralink-repogen): the instance agent's
// default table entry is read through a data source of its own in a private folder
// (odbc.ini by auralink-write-odbc-ini beside this program), exactly as the polling thread
// reads it, so the figures include the ODBC driver and the query. It is read three times,
// unchanged: once to time the reading alone, then for the two steps.
#include <auralink/db_poll_thread.h>
#include <auralink/trace_utils.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "poll/snapshot_query.h"
#include "poll/table_snapshot.h"

namespace fs = std::filesystem;
using auralink::poll::SnapshotBuilder;
using auralink::poll::SnapshotQuery;
using auralink::poll::TableChange;
using auralink::poll::TableSnapshot;

namespace {

// Starts a new high-water mark of the resident size at the current size.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The peak resident size since the last ResetPeak, from "VmHWM:  N kB".
double PeakMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  return 0;
}

std::string Identifier(unsigned long n) {
  char text[40];
  std::snprintf(text, sizeof text, "%08lX-%04lX-4A5B-8C9D-%012lX", n * 2654435761ul % 0xFFFFFFFFul, n % 0xFFFF,
                n * 40503ul);
  return text;
}

const char* const kClasses[] = {"WindowsServer", "UnixServer", "Workstation", "Router", "Printer"};
const char* const kStatus[] = {"Normal", "Warning", "Critical", "Unmanaged"};

TabEntry Row(unsigned long n, int version) {
  return TabEntry({Identifier(n), "2026-01-0" + std::to_string(1 + version) + " 10:20:30.400",
                   "host-" + std::to_string(n) + ".example.net", kClasses[n % 5], kStatus[(n + version) % 4]});
}

// Processor time of this (single-threaded) program: a figure that does not depend on how
// busy the machine is. Wall-clock time is printed beside it.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

template <typename Step>
std::string Timed(Step step) {
  auto start = std::chrono::steady_clock::now();
  double cpu = CpuSeconds();
  step();
  char text[64];
  std::snprintf(text, sizeof text, "%.2f s processor (%.2f s wall)", CpuSeconds() - cpu,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return text;
}

// Times the two steps; `feed(initial, builder)` hands one snapshot's rows to the builder
// and answers false when it cannot.
template <typename Feed>
int MeasureSteps(const SnapshotQuery& query, Feed feed) {
  SnapshotBuilder builder(query);
  ResetPeak();
  TableSnapshot before;
  bool fed = true;
  std::string time = Timed([&] {
    fed = feed(true, builder);
    before = builder.Finish();
  });
  if (!fed) return 1;
  std::printf("baseline built in %s: %zu objects, peak %.0f MB\n", time.c_str(), before.Size(), PeakMegabytes());

  ResetPeak();
  unsigned long counts[4] = {};
  size_t objects = 0;
  time = Timed([&] {
    fed = feed(false, builder);
    TableSnapshot after = builder.Finish();
    objects = after.Size();
    auralink::poll::CompareSnapshots(before, after, [&](TableChange change, std::string_view, std::string_view) {
      ++counts[change];
      return true;
    });
  });
  if (!fed) return 1;
  std::printf("poll (next snapshot built and compared) in %s: %zu objects; %lu created, %lu modified, %lu deleted; "
              "peak %.0f MB\n",
              time.c_str(), objects, counts[1], counts[2], counts[3], PeakMegabytes());
  return 0;
}

int MeasureMadeRows(unsigned long rows, unsigned long percent) {
  const unsigned long step = percent ? 100 / percent : rows + 1;
  SnapshotQuery query = auralink::poll::BuildSnapshotQuery(
      "objects", {"uuid", "date_modify"}, {"uuid"}, {"objects", "status"},
      {"objects.name", "objects.class_name", "status.status_text"}, {"objects.status_no", "status.status_no"});
  std::printf("rows %lu, changes %lu%% modified + %lu%% deleted + %lu%% created\n", rows, percent, percent, percent);
  size_t made = 0;
  std::string time = Timed([&] {
    for (unsigned long n = 0; n < rows; ++n) made += Row(n, 0).GetSize();
  });
  std::printf("rows made alone in %s\n", time.c_str());
  return MeasureSteps(query, [&](bool initial, SnapshotBuilder& builder) {
    for (unsigned long n = 0; n < rows; ++n) {
      if (initial) {
        builder.Row(Row(n, 0));
        continue;
      }
      if (n % step == 1) continue;                       // deleted
      builder.Row(Row(n, n % step == 0 ? 1 : 0));         // modified or not
      if (n % step == 2) builder.Row(Row(rows + n, 0));  // created
    }
    return made > 0;
  });
}

// The instance agent's default table entry.
struct DefaultEntry {
  std::vector<std::string> select{"uuid", "date_modify"}, keys{"uuid"}, modify{"date_modify"};
  std::vector<std::string> fields{
      "tng_managedobject.name",       "tng_managedobject.label",      "tng_managedobject.address",
      "tng_managedobject.address_type", "tng_managedobject.severity", "tng_managedobject.date_ins",
      "tng_managedobject.class_name", "tng_managedobject.date_modify", "tng_inclusion.parent_class",
      "tng_inclusion.parent_uuid",    "tng_status.status_text"};
  std::vector<std::string> tables{"tng_inclusion", "tng_managedobject", "tng_status"};
  std::vector<std::string> conditions{"tng_managedobject.uuid", "tng_inclusion.child_uuid",
                                      "tng_managedobject.status_no", "tng_status.status_no"};
};

int MeasureRepository(const std::string& repository) {
  const fs::path programFolder = fs::read_symlink("/proc/self/exe").parent_path();
  std::string pattern = (fs::temp_directory_path() / "auralink-snapshot-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("auralink-snapshot-bench: mkdtemp");
    return 1;
  }
  const fs::path work = pattern;
  // Before anything reads the registry or ODBC configuration.
  setenv("AURALINK_REGISTRY", (work / "registry.reg").c_str(), 1);
  setenv("ODBCINI", (work / "odbc.ini").c_str(), 1);
  setenv("ODBCSYSINI", work.c_str(), 1);
  const fs::path trace = work / "snapshot.trace";
  CTraceUtils::GetInstance()->LogInitAppend(trace.c_str(), 0, 0, -1);
  const std::string command = "'" + (programFolder / "auralink-write-odbc-ini").string() + "' SNAPSHOTS '" +
                              repository + "' '" + (work / "odbc.ini").string() + "' >/dev/null";
  int status = 1;
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "auralink-snapshot-bench: failed: %s\n", command.c_str());
  } else {
    DefaultEntry e;
    DbPollThrd poller("SNAPSHOTS", "Instances", 1, "tng_managedobject", e.select, e.keys, e.modify, e.fields,
                      e.tables, e.conditions);
    SnapshotQuery query = auralink::poll::BuildSnapshotQuery("tng_managedobject", e.select, e.keys, e.tables,
                                                             e.fields, e.conditions);
    std::printf("repository %s, default table entry, read three times\n", repository.c_str());
    // What reading the rows costs alone, to be taken off the figures of the steps.
    struct Counter final : DBManager::RowReceiver {
      size_t rows = 0;
      void Restart() override { rows = 0; }
      bool Row(const TabEntry&) override { return ++rows > 0; }
    } counter;
    std::vector<std::string> columns;
    bool read = false;
    std::string time = Timed([&] { read = poller.TakeSnapshot(true, columns, counter) != 0; });
    if (read) std::printf("%zu rows read alone in %s\n", counter.rows, time.c_str());
    if (read) status = MeasureSteps(query, [&](bool initial, SnapshotBuilder& builder) {
      std::vector<std::string> columns;
      return poller.TakeSnapshot(initial, columns, builder) != 0;
    });
  }
  if (status != 0)
    std::fprintf(stderr, "auralink-snapshot-bench: the data source could not be read; its folder is kept: %s\n", work.c_str());
  else
    fs::remove_all(work);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long rows = 1000000, percent = 1;
  std::string repository;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rows")) rows = std::strtoul(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--changes")) percent = std::strtoul(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--repository")) repository = argv[i + 1];
  }
  return repository.empty() ? MeasureMadeRows(rows, percent) : MeasureRepository(repository);
}
