// auralink-discovery-bench: how fast a whole discovery run goes, from the repository to
// the Orvex adapter, against the same repository queries run straight on SQLite on the
// same file in the same run; and how much memory the run needs at its peak against the
// identifier array it must hold (the floor of its memory). zeltdiscovery runs as the operator runs it (-ps minimum,
// the stand-in Orvex adapter), in a private folder with its own registry file and
// odbc.ini; the machine's configuration is never touched. It runs twice over the same
// repository (100,000 objects unless --objects says otherwise): first tracing at the level
// registration leaves (everything), then with "TraceLevel" 1 (milestones and progress).
//
//   auralink-discovery-bench [--objects N] [--seed S] [--processing-module PATH]
//                            [--java-options TEXT] [--keep]
//
// --java-options hands TEXT to the Java VM through JAVA_TOOL_OPTIONS, the variable every VM
// reads at creation, as an operator would to cap the VM's heap ("-Xmx64m"); without it the
// VM sizes its heap from the machine's memory.
//
// The instance agent's processing class is the one its registration names; until the
// repository server registers one, --processing-module names a module whose class
// CLSID_ScriptedProcessing stands in (the adapter tests' scripted processing module).
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/guids.h>
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>
#include <winreg.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "db/sqlite_dialect.h"
#include "repository_queries.h"
#include "unlinked_objects.h"
#include <auralink/platform/guid_text.h>

namespace fs = std::filesystem;
namespace config = auralink::config;
using namespace auralink::bench;

namespace {

constexpr const char* kAgent = "QuillonLst";
constexpr const char* kScriptedProcessing = "5C2E8A17-3B94-4F60-8D21-A74E19C36B52";
struct Options {
  unsigned long objects = 100000;
  unsigned long seed = 1;
  std::string processingModule;
  std::string javaOptions;
  bool keep = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--keep") {
      options.keep = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (option == "--objects") {
      options.objects = std::strtoul(value, nullptr, 10);
      if (options.objects == 0) return false;
    } else if (option == "--seed") {
      options.seed = std::strtoul(value, nullptr, 10);
    } else if (option == "--java-options") {
      options.javaOptions = value;
    } else if (option == "--processing-module") {
      options.processingModule = fs::absolute(value).string();
    } else {
      return false;
    }
  }
  return true;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Runs a command with its standard output to `output`.
bool Run(const std::string& command, const std::string& output = "/dev/null") {
  if (std::system((command + " > " + Quoted(output)).c_str()) == 0) return true;
  std::fprintf(stderr, "auralink-discovery-bench: failed: %s\n", command.c_str());
  return false;
}

// Runs zeltdiscovery with `arguments`, its standard output to `output`; its peak resident
// memory in bytes (the kernel's high-water mark of that process alone), or 0 on failure.
size_t RunMeasured(const fs::path& program, const std::vector<std::string>& arguments, const std::string& output) {
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "auralink-discovery-bench: cannot start %s: %s\n", argv[0], std::strerror(spawned));
    return 0;
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 0;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "auralink-discovery-bench: %s ended with status %d\n", argv[0], status);
    return 0;
  }
  return static_cast<size_t>(usage.ru_maxrss) * 1024;  // Linux gives kilobytes
}

// What the identifier array EnumInstances returns takes for these (ASCII) identifiers.
size_t IdentifierArrayBytes(const std::vector<std::string>& ids) {
  size_t bytes = IdentifierArrayBaseBytes();
  for (const std::string& id : ids) bytes += IdentifierElementBytes(id.size());
  return bytes;
}

double MiB(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReadSetting(const std::string& key, const char* name) {
  char value[260] = {};
  DWORD size = sizeof value;
  return CConfRepositoryManager::GetInstance()->ReadStr(key.c_str(), name, nullptr, value, &size) ? value : "";
}

// What registration leaves to the operator (and what it does not write yet): the trace log
// in the work folder, the supported classes, the transport settings zeltsetup would write,
// and a processing class when none is registered.
bool Configure(const Options& options, const fs::path& work) {
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  const std::string agentKey = config::AgentKey(kAgent);
  const std::string instrumentation = config::InstrumentationKey(kAgent);
  const std::string adapter = config::AdapterKey(kAgent);
  repository->SetStr(agentKey.c_str(), config::kLogFileName, (work / "QuillonLst.log").c_str());
  if (ReadSetting(agentKey, config::kDiscoveryId).empty())
    repository->SetStr(agentKey.c_str(), config::kDiscoveryId,
                       auralink::platform::GuidToString(CLSID_QuillonDiscovery, false).c_str());
  std::ofstream classes(work / "bench.classes");
  for (const char* name : kStandInClasses) classes << "class " << name << " " << name << "\n";
  classes.close();
  repository->SetStr(instrumentation.c_str(), config::kInstrumentationName, config::kDefaultInstrumentationName);
  repository->SetStr(instrumentation.c_str(), config::kInstrumentationSign, config::kDefaultInstrumentationSign);
  repository->SetStr(instrumentation.c_str(), config::kInstrumentationCertificate,
                     config::kDefaultInstrumentationCertificate);
  repository->SetStr(instrumentation.c_str(), config::kInstrumentationClassesFile, (work / "bench.classes").c_str());
  repository->SetNum(adapter.c_str(), config::kTransportRequestPort, 4100);
  repository->SetNum(adapter.c_str(), config::kTransportServerQlinkPort, 4200);
  repository->SetStr(adapter.c_str(), config::kTransportServerAddress, "orvex.bench.example");

  if (!options.processingModule.empty()) {
    const std::string key = std::string("CLSID\\{") + kScriptedProcessing + "}\\InprocServer32";
    HKEY server = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &server, nullptr) !=
        ERROR_SUCCESS)
      return false;
    const std::string& path = options.processingModule;
    RegSetValueExA(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    RegSetValueExA(server, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
    RegCloseKey(server);
    repository->SetStr(agentKey.c_str(), config::kProcessingId, kScriptedProcessing);
    std::printf("processing:    stand-in module %s\n", path.c_str());
  } else if (ReadSetting(agentKey, config::kProcessingId).empty()) {
    std::fprintf(stderr,
                 "auralink-discovery-bench: the instance agent has no processing class registered; "
                 "name a stand-in with --processing-module\n");
    return false;
  }
  return true;
}

// Seconds since midnight of a trace line's time stamp ("YYYY-MM-DD HH:MM:SS.mmm ...").
double StampSeconds(const std::string& line) {
  int hours = 0, minutes = 0, seconds = 0, millis = 0;
  if (line.size() < 23 || std::sscanf(line.c_str() + 11, "%d:%d:%d.%d", &hours, &minutes, &seconds, &millis) != 4)
    return -1;
  return hours * 3600.0 + minutes * 60.0 + seconds + millis / 1000.0;
}

// What the bench reads from the run's trace. The trace is read a line at a time: at a
// million objects it runs to gigabytes, and the bench's own size must stay small because
// a child it starts inherits its high-water mark of resident memory.
struct TraceFacts {
  double begun = -1;      // "Initialize discovery"
  double committed = -1;  // "CommitDiscovery successfully"
  std::string firstId;    // the first object the run asked for
};

TraceFacts ReadTraceFacts(const fs::path& path) {
  TraceFacts facts;
  std::ifstream in(path);
  const std::string asking = "Getting the instance with id ";
  std::string line;
  while (std::getline(in, line)) {
    if (facts.begun < 0 && line.find("Initialize discovery") != std::string::npos) facts.begun = StampSeconds(line);
    if (facts.firstId.empty() && line.find(asking) != std::string::npos)
      facts.firstId = line.substr(line.find(asking) + asking.size());
    if (line.find("CommitDiscovery successfully") != std::string::npos) {
      facts.committed = StampSeconds(line);
      break;
    }
  }
  return facts;
}

// The repository opened straight through SQLite, with the dialect module loaded.
class BareRepository {
 public:
  bool Open(const std::string& file, const std::string& module) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return false;
    char* message = nullptr;
    const bool loaded = sqlite3_enable_load_extension(db_, 1) == SQLITE_OK &&
                        sqlite3_load_extension(db_, module.c_str(), nullptr, &message) == SQLITE_OK;
    if (!loaded) std::fprintf(stderr, "auralink-discovery-bench: cannot load %s: %s\n", module.c_str(), message ? message : "");
    sqlite3_free(message);
    return loaded;
  }
  ~BareRepository() { sqlite3_close(db_); }

  // Steps through the rows of `sql`, reading every value as text; the rows, or -1.
  long Query(const std::string& sql, std::vector<std::string>* firstColumn = nullptr) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "auralink-discovery-bench: %s\n", sqlite3_errmsg(db_));
      return -1;
    }
    long rows = 0;
    int rc;
    const int columns = sqlite3_column_count(statement);
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      ++rows;
      for (int i = 0; i < columns; ++i) {
        const unsigned char* text = sqlite3_column_text(statement, i);
        if (i == 0 && firstColumn) firstColumn->emplace_back(text ? reinterpret_cast<const char*>(text) : "");
      }
    }
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE ? rows : -1;
  }

 private:
  sqlite3* db_ = nullptr;
};

// The discovery's queries straight on SQLite: the enumeration, then per identifier the
// object with its parents and, when that finds no row, the object alone. Objects read per
// second, or a negative figure.
double BareRate(BareRepository& bare, std::vector<std::string>& ids) {
  std::map<std::string, CGenericClass> classes;
  for (const char* name : kStandInClasses) classes[name].m_className = name;
  const auto start = std::chrono::steady_clock::now();
  ids.assign(1, quillon::kUnlinkedObjectsId);  // EnumInstances puts it first
  if (bare.Query(auralink::db::TranslateConvertForSqlite(quillon::AllClassesUuidQuery(classes)), &ids) < 0) return -1;
  for (const std::string& id : ids) {
    if (id == quillon::kUnlinkedObjectsId) continue;
    long rows = bare.Query(auralink::db::TranslateConvertForSqlite(quillon::ObjectWithParentsQuery(id)));
    if (rows == 0) rows = bare.Query(auralink::db::TranslateConvertForSqlite(quillon::ObjectWithoutParentsQuery(id)));
    if (rows < 0) return -1;
  }
  return static_cast<double>(ids.size()) / SecondsSince(start);
}

// One whole zeltdiscovery run and what its console and trace tell.
struct RunFigures {
  bool ok = false;
  double objects = 0;
  double seconds = 0;  // process start to exit
  double phase = -1;   // begin to commit, from the trace
  size_t peak = 0;     // peak resident memory
  std::string firstId;
};

RunFigures RunDiscovery(const fs::path& bin, const fs::path& work) {
  RunFigures run;
  std::error_code ignored;
  fs::remove(work / "QuillonLst.log", ignored);  // each run's trace on its own
  const auto start = std::chrono::steady_clock::now();
  run.peak = RunMeasured(bin / "zeltdiscovery", {"-ps", "minimum"}, (work / "console.txt").string());
  run.seconds = SecondsSince(start);
  const std::string console = ReadFile(work / "console.txt");
  const TraceFacts facts = ReadTraceFacts(work / "QuillonLst.log");
  const std::string marker = "Discovery process will take place on ";
  const std::size_t at = console.find(marker);
  if (run.peak == 0 || at == std::string::npos || facts.firstId.empty()) {
    std::fprintf(stderr, "auralink-discovery-bench: the run failed; see %s\n", work.c_str());
    return run;
  }
  run.objects = std::atof(console.c_str() + at + marker.size());
  run.phase = facts.committed >= 0 && facts.begun >= 0 ? facts.committed - facts.begun : -1;
  run.firstId = facts.firstId;
  run.ok = true;
  return run;
}

void PrintRun(const char* title, const RunFigures& run, double bareRate) {
  const double wholeRate = run.objects / run.seconds;
  std::printf("%s\n", title);
  std::printf("  whole run:   %.3f s, %.0f objects per second (start, registration and the 1 s wait at the end "
              "included)\n",
              run.seconds, wholeRate);
  if (run.phase > 0) {
    std::printf("  discovery:   %.3f s, %.0f objects per second (begin to commit, from the trace)\n", run.phase,
                run.objects / run.phase);
    // What the run spends outside the loop (starting the Java VM, registering, the 1 s wait
    // after unregistering) bounds the whole-run ratio however fast the loop becomes.
    const double outside = run.seconds - run.phase;
    std::printf("  outside loop: %.3f s; even an instant loop gives at most %.2f of bare for the whole run\n", outside,
                outside > 0 ? run.objects / outside / bareRate : 0.0);
  }
  std::printf("  speed ratio: %.2f whole run, %.2f discovery\n", wholeRate / bareRate,
              run.phase > 0 ? run.objects / run.phase / bareRate : 0.0);
}

int Measure(const Options& options, const fs::path& bin, const fs::path& lib, const fs::path& work) {
  const std::string repositoryFile = (work / "repository.db").string();
  std::printf("generating a repository of %lu objects (seed %lu)...\n", options.objects, options.seed);
  if (!Run(Quoted((bin / "auralink-repogen").string()) + " --objects " + std::to_string(options.objects) +
           " --seed " + std::to_string(options.seed) + " --output " + Quoted(repositoryFile)) ||
      !Run(Quoted((bin / "auralink-write-odbc-ini").string()) + " VAZUV " + Quoted(repositoryFile) + " " +
           Quoted((work / "odbc.ini").string())) ||
      !Run(Quoted((bin / "auralink-regsvr").string()) + " " + Quoted((lib / "libTouchpoint.so").string()) + " " +
           Quoted((lib / "libQuillon.so").string())) ||
      !Configure(options, work))
    return 1;

  // Tracing at the level registration leaves: no TraceLevel in the registry.
  const RunFigures everything = RunDiscovery(bin, work);
  if (!everything.ok) return 1;
  // The same program discovering one object: the Java VM, the libraries and the fixed
  // buffers, which do not grow with the repository.
  const size_t fixedPeak =
      RunMeasured(bin / "zeltdiscovery", {"-id", everything.firstId}, (work / "console-one.txt").string());
  // Milestones and progress only.
  if (!CConfRepositoryManager::GetInstance()->SetNum(config::kRootKey, config::kTraceLevel, 1)) return 1;
  const RunFigures progress = RunDiscovery(bin, work);
  if (!progress.ok) return 1;

  BareRepository bare;
  if (!bare.Open(repositoryFile, (lib / "auralink_sqlite_dialect.so").string())) return 1;
  std::vector<std::string> ids;
  const double bareRate = BareRate(bare, ids);
  if (bareRate <= 0) return 1;
  const size_t arrayBytes = IdentifierArrayBytes(ids);

  std::printf("objects:       %.0f\n", everything.objects);
  std::printf("bare SQLite:   %.0f objects per second\n", bareRate);
  PrintRun("trace level everything (as registered; goal: whole run 0.50 of bare or better):", everything, bareRate);
  PrintRun("trace level 1:", progress, bareRate);
  const size_t peak = everything.peak;
  std::printf("peak memory:   %.1f MiB resident for the whole run; one object alone %.1f MiB (Java VM and libraries)\n",
              MiB(peak), MiB(fixedPeak));
  std::printf("id array:      %.1f MiB (%zu identifiers)\n", MiB(arrayBytes), ids.size());
  std::printf("memory ratio:  %.2f whole run to id array (goal 1.5 or less); %.2f above the one-object run\n",
              static_cast<double>(peak) / static_cast<double>(arrayBytes),
              static_cast<double>(peak > fixedPeak ? peak - fixedPeak : 0) / static_cast<double>(arrayBytes));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: auralink-discovery-bench [--objects N] [--seed S] [--processing-module PATH] "
                 "[--java-options TEXT] [--keep]\n");
    return 2;
  }
  const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
  fs::path lib = bin.parent_path() / "lib";
  if (!fs::exists(lib / "libQuillon.so")) lib = lib / "auralink";
  char pattern[] = "/tmp/auralink-discovery-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path work = pattern;
  setenv("AURALINK_REGISTRY", (work / "registry.reg").c_str(), 1);
  setenv("ODBCINI", (work / "odbc.ini").c_str(), 1);
  setenv("ODBCSYSINI", work.c_str(), 1);
  setenv("APATH", lib.c_str(), 1);
  if (!options.javaOptions.empty()) {
    setenv("JAVA_TOOL_OPTIONS", options.javaOptions.c_str(), 1);
    std::printf("java options:  %s\n", options.javaOptions.c_str());
  }
  const int result = Measure(options, bin, lib, work);
  if (options.keep || result != 0) {
    std::printf("work folder:   %s\n", work.c_str());
  } else {
    std::error_code ignored;
    fs::remove_all(work, ignored);
  }
  return result;
}
