// auralink-snapshot-bench: how fast and how compactly a table poller builds and compares
// snapshots of a large table (a measurement to run by hand, not a test).
//
//   auralink-snapshot-bench [--rows N] [--changes PERCENT]
//
// Makes N rows (default 1,000,000) of a polled table like the repository's object table
// (identifier key, modification time, name, class, status text), then a second set in
// which PERCENT of the rows (default 1) are modified, as many deleted and as many created.
// The rows are made one at a time and handed to the snapshot builder, as the data source
// hands them to the polling thread. It times building the baseline, then one poll (building
// the next snapshot and comparing it with the baseline), and prints the peak resident size
// of each step: the high-water mark is reset before the step, so the figure is what the
// process holds at its fullest during that step, the snapshots kept from before included.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "poll/snapshot_query.h"
#include "poll/table_snapshot.h"

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

}  // namespace

int main(int argc, char** argv) {
  unsigned long rows = 1000000, percent = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rows")) rows = std::strtoul(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--changes")) percent = std::strtoul(argv[i + 1], nullptr, 10);
  }
  const unsigned long step = percent ? 100 / percent : rows + 1;
  auto query = auralink::poll::BuildSnapshotQuery(
      "objects", {"uuid", "date_modify"}, {"uuid"}, {"objects", "status"},
      {"objects.name", "objects.class_name", "status.status_text"}, {"objects.status_no", "status.status_no"});

  std::printf("rows %lu, changes %lu%% modified + %lu%% deleted + %lu%% created\n", rows, percent, percent, percent);
  // What making the rows costs alone, to be taken off the figures below.
  size_t made = 0;
  std::string time = Timed([&] {
    for (unsigned long n = 0; n < rows; ++n) made += Row(n, 0).GetSize();
  });
  std::printf("rows made alone in %s\n", time.c_str());

  auralink::poll::SnapshotBuilder builder(query);
  ResetPeak();
  TableSnapshot before;
  time = Timed([&] {
    for (unsigned long n = 0; n < rows; ++n) builder.Row(Row(n, 0));
    before = builder.Finish();
  });
  std::printf("baseline built in %s: %zu objects, peak %.0f MB\n", time.c_str(), before.Size(), PeakMegabytes());

  ResetPeak();
  unsigned long counts[4] = {};
  size_t objects = 0;
  time = Timed([&] {
    for (unsigned long n = 0; n < rows; ++n) {
      if (n % step == 1) continue;                       // deleted
      builder.Row(Row(n, n % step == 0 ? 1 : 0));         // modified or not
      if (n % step == 2) builder.Row(Row(rows + n, 0));  // created
    }
    TableSnapshot after = builder.Finish();
    objects = after.Size();
    auralink::poll::CompareSnapshots(before, after, [&](TableChange change, std::string_view, std::string_view) {
      ++counts[change];
      return true;
    });
  });
  std::printf("poll (next snapshot built and compared) in %s: %zu objects; %lu created, %lu modified, %lu deleted; "
              "peak %.0f MB\n",
              time.c_str(), objects, counts[1], counts[2], counts[3], PeakMegabytes());
  return made == 0;
}
