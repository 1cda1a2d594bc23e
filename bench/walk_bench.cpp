// auralink-walk-bench: times a discovery walk of the instance agent through
// "Touchpoint.Hub": one EnumInstances of every supported class, then one GetInstance per
// identifier, as the discovery tool makes them. Everything happens in a private folder with
// its own registry file, odbc.ini and trace file; the machine's configuration is never
// touched.
//
//   auralink-walk-bench [--objects N] [--seed S] [--repository FILE] [--classes FILE]
//                       [--modules DIR] [--rounds R] [--keep]
//
// Without --repository a stand-in repository of N objects (default 10000) is generated
// before anything is measured. Without --classes every class of the stand-in repository is
// supported. The helper programs are taken from the folder of this program, the modules
// from ../lib or ../lib/auralink beside it unless --modules names their folder.
//
// Speed: the walk is set against the floor of its work, the same queries for the same
// identifiers prepared from their text and run straight on SQLite against the same file,
// in alternating rounds (default 3) of which the fastest of each kind counts.
// Memory: the first walk's peak resident memory above what the process held before it,
// against the size of the identifier array that the walk has to hold (its VARIANTs and the
// allocated blocks of its strings). A failed run keeps its folder and names its trace file.
#include <windows.h>
#include <atlbase.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>
#include <objbase.h>
#include <windows.h>

#include <auralink/trace_utils.h>
#include <repository_queries.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "db/sqlite_dialect.h"
#include "unlinked_objects.h"
#include <auralink/platform/guid_text.h>
#include <auralink/platform/error_text.h>

namespace fs = std::filesystem;
using namespace auralink::bench;

namespace {

constexpr const char* kAgent = "QuillonLst";
constexpr const char* kAgentKey = "SOFTWARE\\Kestrova\\Auralink\\QuillonLst";
constexpr const char* kInstrumentationKey = "SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\OrvexSettings\\Instrumentation";
struct Options {
  unsigned long objects = 10000;
  unsigned long seed = 1;
  std::string repository;
  std::string classes;
  std::string modules;
  unsigned long rounds = 3;
  bool keep = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (option == "--keep") {
      options.keep = true;
      continue;
    }
    if (!value) return false;
    ++i;
    if (option == "--objects") {
      options.objects = std::strtoul(value, nullptr, 10);
      if (options.objects == 0) return false;
    } else if (option == "--seed") {
      options.seed = std::strtoul(value, nullptr, 10);
    } else if (option == "--repository") {
      options.repository = fs::absolute(value).string();
    } else if (option == "--classes") {
      options.classes = fs::absolute(value).string();
    } else if (option == "--modules") {
      options.modules = fs::absolute(value).string();
    } else if (option == "--rounds") {
      options.rounds = std::strtoul(value, nullptr, 10);
      if (options.rounds == 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

bool Run(const std::string& command) {
  if (std::system((command + " >/dev/null").c_str()) == 0) return true;
  std::fprintf(stderr, "auralink-walk-bench: failed: %s\n", command.c_str());
  return false;
}

bool SetString(const char* keyPath, const char* name, const std::string& value) {
  CRegKey key;
  return key.Create(HKEY_LOCAL_MACHINE, keyPath) == ERROR_SUCCESS &&
         key.SetStringValue(name, value.c_str()) == ERROR_SUCCESS;
}

std::string ModuleFolder(const fs::path& programFolder, const std::string& given) {
  if (!given.empty()) return given;
  for (const fs::path& candidate : {programFolder / ".." / "lib", programFolder / ".." / "lib" / "auralink"}) {
    if (fs::exists(candidate / "libTouchpoint.so")) return fs::canonical(candidate).string();
  }
  return (programFolder / ".." / "lib").string();
}

// Prepares the private folder: repository, data source, registration and the agent's keys.
bool Prepare(const Options& options, const fs::path& programFolder, const fs::path& work, std::string& repository) {
  std::string bin = programFolder.string();
  repository = options.repository;
  if (repository.empty()) {
    repository = (work / "repository.db").string();
    std::printf("generating a repository of %lu objects (seed %lu)...\n", options.objects, options.seed);
    if (!Run(Quoted(bin + "/auralink-repogen") + " --objects " + std::to_string(options.objects) + " --seed " +
             std::to_string(options.seed) + " --output " + Quoted(repository))) {
      return false;
    }
  }
  if (!Run(Quoted(bin + "/auralink-write-odbc-ini") + " VAZUV " + Quoted(repository) + " " +
           Quoted((work / "odbc.ini").string()))) {
    return false;
  }
  std::string modules = ModuleFolder(programFolder, options.modules);
  if (!Run(Quoted(bin + "/auralink-regsvr") + " " + Quoted(modules + "/libTouchpoint.so") + " " +
           Quoted(modules + "/libQuillon.so"))) {
    return false;
  }
  std::string classes = options.classes;
  if (classes.empty()) {
    classes = (work / "QuillonLst.classes").string();
    std::ofstream file(classes);
    for (const char* name : kStandInClasses) file << "class " << name << " " << name << "\n";
  }
  return SetString(kAgentKey, "DiscoveryID", auralink::platform::GuidToString(CLSID_QuillonDiscovery, false)) &&
         SetString(kInstrumentationKey, "instrumentation.classes.filename", classes);
}

// A figure of /proc/self/status ("VmRSS", "VmHWM") in bytes.
size_t StatusBytes(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  std::string prefix = std::string(name) + ":";
  while (std::getline(status, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) return std::strtoull(line.c_str() + prefix.size(), nullptr, 10) * 1024;
  }
  return 0;
}

// Starts a new high-water mark of resident memory; false where the kernel lacks it.
bool ResetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// The memory that the identifier array holds: its descriptor, its VARIANTs and the blocks
// allocated for its strings.
size_t ArrayBytes(SAFEARRAY* array, LONG count) {
  size_t bytes = IdentifierArrayBaseBytes();
  VARIANT* elements = nullptr;
  if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements))))
    return bytes + static_cast<size_t>(count) * sizeof(VARIANT);
  for (LONG i = 0; i < count; ++i) {
    BSTR text = V_VT(&elements[i]) == VT_BSTR ? V_BSTR(&elements[i]) : nullptr;
    bytes += text ? IdentifierElementBytes(SysStringLen(text)) : sizeof(VARIANT);
  }
  SafeArrayUnaccessData(array);
  return bytes;
}

struct WalkResult {
  bool ok = false;
  LONG count = 0;
  long fetched = 0;
  long failed = 0;
  double enumerating = 0;
  double seconds = 0;
  size_t peakBytes = 0;   // resident memory above the level before the walk
  size_t arrayBytes = 0;  // the identifier array's own size
  std::vector<std::string> ids;  // kept only when asked for
};

WalkResult Walk(bool keepIds) {
  WalkResult result;
  CLSID clsid;
  CComPtr<IHub> hub;
  if (FAILED(CLSIDFromProgID(L"Touchpoint.Hub", &clsid)) ||
      FAILED(hub.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER))) {
    std::fprintf(stderr, "auralink-walk-bench: cannot create Touchpoint.Hub: %s\n",
                 auralink::platform::LastComFailureText());
    return result;
  }
  hub->SetAgentName(CComBSTR(kAgent));
  CComBSTR allClasses("");

  const bool measuresMemory = ResetPeakMemory();
  const size_t before = StatusBytes("VmRSS");
  auto start = std::chrono::steady_clock::now();
  auralink::PayloadArray ids;
  if (FAILED(hub->EnumInstances(allClasses, 0, nullptr, &result.count, ids.Receive()))) {
    std::fprintf(stderr, "auralink-walk-bench: EnumInstances failed\n");
    return result;
  }
  result.enumerating = SecondsSince(start);
  for (LONG i = 0; i < result.count; ++i) {
    CComBSTR id;
    CComBSTR instance;
    if (FAILED(auralink::GetBstrElement(ids.Get(), i, &id)) || FAILED(hub->GetInstance(id, 0, nullptr, &instance))) {
      ++result.failed;  // an object without a status row cannot be read
    } else {
      ++result.fetched;
    }
  }
  result.seconds = SecondsSince(start);
  if (measuresMemory) {
    size_t peak = StatusBytes("VmHWM");
    result.peakBytes = peak > before ? peak - before : 0;
  }
  result.arrayBytes = ArrayBytes(ids.Get(), result.count);
  if (keepIds) {
    for (LONG i = 0; i < result.count; ++i) {
      std::string id;
      if (SUCCEEDED(auralink::GetStringElement(ids.Get(), i, &id))) result.ids.push_back(std::move(id));
    }
  }
  result.ok = true;
  return result;
}

// The dialect module that the data source loads, as its odbc.ini names it.
std::string DialectModule(const fs::path& odbcIni) {
  std::ifstream file(odbcIni);
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("LoadExt", 0) != 0) continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) break;
    size_t first = line.find_first_not_of(" \t", equals + 1);
    return first == std::string::npos ? "" : line.substr(first);
  }
  return "";
}

// The same file opened straight through SQLite, with the dialect module loaded.
class BareRepository {
 public:
  bool Open(const std::string& repository, const std::string& module) {
    if (sqlite3_open_v2(repository.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return Fail("open");
    char* message = nullptr;
    if (sqlite3_enable_load_extension(db_, 1) != SQLITE_OK ||
        sqlite3_load_extension(db_, module.c_str(), nullptr, &message) != SQLITE_OK) {
      std::fprintf(stderr, "auralink-walk-bench: cannot load %s: %s\n", module.c_str(), message ? message : "");
      sqlite3_free(message);
      return false;
    }
    return true;
  }
  ~BareRepository() { sqlite3_close(db_); }

  // Prepares `sql` from its text and steps through its rows, reading every value as text.
  // The number of rows, or -1 on failure.
  long Run(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
      Fail("prepare");
      return -1;
    }
    long rows = 0;
    int rc;
    const int columns = sqlite3_column_count(statement);
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      ++rows;
      for (int i = 0; i < columns; ++i) sqlite3_column_text(statement, i);
    }
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE ? rows : -1;
  }

 private:
  bool Fail(const char* what) {
    std::fprintf(stderr, "auralink-walk-bench: SQLite %s failed: %s\n", what, db_ ? sqlite3_errmsg(db_) : "");
    return false;
  }
  sqlite3* db_ = nullptr;
};

// The SQLite text of a repository query with `marker` where the identifier goes, split
// around the marker.
std::pair<std::string, std::string> QueryAround(std::string (*query)(std::string_view)) {
  const std::string marker = "00000000-0000-0000-0000-00000000CAFE";
  std::string text = auralink::db::TranslateConvertForSqlite(query(marker));
  size_t at = text.find(marker);
  return {text.substr(0, at), text.substr(at + marker.size())};
}

// The walk's queries for every identifier, straight on SQLite: the query with parents,
// and the one without when the first finds no row. Seconds, or a negative figure.
double BareWalk(BareRepository& repository, const std::vector<std::string>& ids) {
  static const auto withParents = QueryAround(quillon::ObjectWithParentsQuery);
  static const auto withoutParents = QueryAround(quillon::ObjectWithoutParentsQuery);
  auto start = std::chrono::steady_clock::now();
  std::string sql;
  for (const std::string& id : ids) {
    if (id == quillon::kUnlinkedObjectsId) continue;  // the walk reads no row for it either
    sql = withParents.first + id + withParents.second;
    long rows = repository.Run(sql);
    if (rows == 0) {
      sql = withoutParents.first + id + withoutParents.second;
      rows = repository.Run(sql);
    }
    if (rows < 0) return -1;
  }
  return SecondsSince(start);
}

double MiB(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

int Measure(const Options& options, const std::string& repository, const fs::path& work) {
  WalkResult first = Walk(true);
  if (!first.ok) return 1;
  std::printf("identifiers:   %d (enumerated in %.3f s)\n", static_cast<int>(first.count), first.enumerating);
  std::printf("objects read:  %ld, not readable: %ld\n", first.fetched, first.failed);
  if (first.peakBytes) {
    std::printf("memory:        walk peak %.1f MiB above the start, identifier array %.1f MiB, ratio %.2f\n",
                MiB(first.peakBytes), MiB(first.arrayBytes),
                static_cast<double>(first.peakBytes) / static_cast<double>(first.arrayBytes));
  } else {
    std::printf("memory:        not measured (no /proc/self/clear_refs)\n");
  }

  BareRepository bare;
  if (!bare.Open(repository, DialectModule(work / "odbc.ini"))) return 1;
  double walkBest = first.seconds;
  double bareBest = 0;
  for (unsigned long round = 0; round < options.rounds; ++round) {
    double seconds = BareWalk(bare, first.ids);
    if (seconds < 0) return 1;
    if (round == 0 || seconds < bareBest) bareBest = seconds;
    if (round + 1 == options.rounds) break;  // the first walk counts as a round
    WalkResult again = Walk(false);
    if (!again.ok) return 1;
    walkBest = std::min(walkBest, again.seconds);
  }
  const double walkRate = static_cast<double>(first.count) / walkBest;
  const double bareRate = static_cast<double>(first.count) / bareBest;
  std::printf("walk:          %.3f s, %.0f objects per second (fastest of %lu)\n", walkBest, walkRate, options.rounds);
  std::printf("bare SQLite:   %.3f s, %.0f objects per second\n", bareBest, bareRate);
  std::printf("speed ratio:   %.2f\n", walkRate / bareRate);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: auralink-walk-bench [--objects N] [--seed S] [--repository FILE] [--classes FILE]\n"
                 "                           [--modules DIR] [--rounds R] [--keep]\n");
    return 2;
  }
  fs::path programFolder = fs::read_symlink("/proc/self/exe").parent_path();
  std::string pattern = (fs::temp_directory_path() / "auralink-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("auralink-walk-bench: mkdtemp");
    return 1;
  }
  fs::path work = pattern;
  // Before anything reads the registry or ODBC configuration.
  setenv("AURALINK_REGISTRY", (work / "registry.reg").c_str(), 1);
  setenv("ODBCINI", (work / "odbc.ini").c_str(), 1);
  setenv("ODBCSYSINI", work.c_str(), 1);
  const fs::path trace = work / "walk.trace";
  CTraceUtils::GetInstance()->LogInitAppend(trace.c_str(), 0, 0, -1);

  int status = 1;
  std::string repository;
  if (Prepare(options, programFolder, work, repository)) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    status = Measure(options, repository, work);
    CoUninitialize();
  }
  CTraceUtils::GetInstance()->Close();
  if (status != 0) {
    std::fprintf(stderr, "auralink-walk-bench: the trace is in %s\n", trace.c_str());
  } else if (options.keep) {
    std::printf("kept %s\n", work.c_str());
  } else {
    std::error_code ec;
    fs::remove_all(work, ec);
  }
  return status;
}
