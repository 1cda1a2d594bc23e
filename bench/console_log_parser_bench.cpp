// auralink-conlog-bench: how fast the console-log listener reads a dump. It writes a dump
// of N records (default 1,000,000) in cautil's layout to a private temporary folder, then
// reads it as the polling thread's record loop does (each record cut, given its severity,
// event time and number, and made into an event stream), without the loop's 1 ms pause per
// record and without indicating. The severity finder's own lines on standard output go to
// /dev/null while it runs. Prints records per second of processor time (steadier than
// elapsed time on a busy machine, also printed); the goal is 500,000 or more.
//
//   auralink-conlog-bench [--records N] [--keep]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "log_poll_thread.h"

namespace {

constexpr double kGoalRecordsPerSecond = 500000.0;

// A polling-thread object that only reads: nothing is indicated or saved.
class ReadingLog : public LogPollThrd {
 public:
  ReadingLog() : LogPollThrd("", 30, "", "warm", "d", 0) {}
  ~ReadingLog() override { EndThread(); }
  int OnLogEvent(short, const std::string&, const std::string&) override { return 1; }
};

// Messages of the shapes the console log holds: both severity segments, no delimiter, none.
const char* const kTexts[] = {
    "CAOPR_W_021: disk almost full on /var",  "TNGAGT_1234_E, link down on interface eth0",
    "CAUTIL_I_300: job 42 completed",         "plain message without any pattern",
    "SECMON_F_001: service stopped unexpectedly", "JOBMGR_S_17 job scheduled without delimiter",
};

void WriteDump(const std::string& path, unsigned long records) {
  std::ofstream dump(path, std::ios::trunc);
  dump << "Date        Time      Node            User        Station     Text\n"
       << "----------  --------  --------------  ----------  ----------  ----\n";
  char line[256];
  for (unsigned long i = 0; i < records; ++i) {
    std::snprintf(line, sizeof line, "%-12s%02lu:%02lu:%02lu  %-16s%-12s%-12s%s\n", "12/07/2026", (i / 3600) % 24,
                  (i / 60) % 60, i % 60, i % 7 ? "host-a.example" : "node-b", "admin", "st1",
                  kTexts[i % (sizeof kTexts / sizeof kTexts[0])]);
    dump << line;
  }
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long records = 1000000;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--records") && i + 1 < argc) {
      records = std::strtoul(argv[++i], nullptr, 10);
    } else if (!std::strcmp(argv[i], "--keep")) {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: %s [--records N] [--keep]\n", argv[0]);
      return 2;
    }
  }
  std::string folder = (std::filesystem::temp_directory_path() / "auralink-conlog-bench-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dump = folder + "/dump.txt";
  WriteDump(dump, records);

  std::fflush(stdout);
  const int savedStdout = dup(STDOUT_FILENO);
  const int devNull = open("/dev/null", O_WRONLY);
  dup2(devNull, STDOUT_FILENO);
  ReadingLog log;
  unsigned long read = 0;
  size_t streamBytes = 0;
  const auto begin = std::chrono::steady_clock::now();
  const std::clock_t cpuBegin = std::clock();
  if (log.OpenLog(dump)) {
    while (log.GetNextLogEvent()) {
      streamBytes += marrowby::RecordEventStream(log.Record()).size();
      ++read;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const double cpuSeconds = static_cast<double>(std::clock() - cpuBegin) / CLOCKS_PER_SEC;
  std::fflush(stdout);
  dup2(savedStdout, STDOUT_FILENO);
  close(devNull);
  close(savedStdout);

  // On a shared machine the processor time is the steadier figure; the goal applies to it.
  const double rate = cpuSeconds > 0 ? read / cpuSeconds : 0;
  std::printf("records read:       %lu of %lu\n", read, records);
  std::printf("time:               %.3f s elapsed, %.3f s of processor time\n", seconds, cpuSeconds);
  std::printf("records per second: %.0f of processor time, %.0f elapsed (goal %.0f: %s)\n", rate,
              seconds > 0 ? read / seconds : 0, kGoalRecordsPerSecond, rate >= kGoalRecordsPerSecond ? "met" : "not met");
  std::printf("stream bytes:       %zu\n", streamBytes);
  if (keep) {
    std::printf("dump kept in %s\n", dump.c_str());
  } else {
    std::filesystem::remove_all(folder);
  }
  return read == records ? 0 : 1;
}
