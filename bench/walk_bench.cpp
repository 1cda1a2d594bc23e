// auralink-walk-bench: times a discovery walk of the instance agent through
// "Touchpoint.Hub": one EnumInstances of every supported class, then one GetInstance per
// identifier, as the discovery tool makes them. Everything happens in a private folder with
// its own registry file and odbc.ini; the machine's configuration is never touched.
//
//   auralink-walk-bench [--objects N] [--seed S] [--repository FILE] [--classes FILE]
//                       [--modules DIR] [--keep]
//
// Without --repository a stand-in repository of N objects (default 10000) is generated.
// Without --classes every class of the stand-in repository is supported. The helper
// programs are taken from the folder of this program, the modules from ../lib or
// ../lib/auralink beside it unless --modules names their folder.
#include <atlbase.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>
#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kAgent = "QuillonLst";
constexpr const char* kAgentKey = "SOFTWARE\\Kestrova\\Auralink\\QuillonLst";
constexpr const char* kInstrumentationKey = "SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\OrvexSettings\\Instrumentation";
// Every class the stand-in repository generator writes.
const char* const kStandInClasses[] = {"IpNetwork",   "IpSubnet",   "WindowsServer", "UnixServer",   "Workstation",
                                       "Router",      "NetworkSwitch", "Printer",    "SystemAgent", "DatabaseAgent"};

struct Options {
  unsigned long objects = 10000;
  unsigned long seed = 1;
  std::string repository;
  std::string classes;
  std::string modules;
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
bool Prepare(const Options& options, const fs::path& programFolder, const fs::path& work) {
  std::string bin = programFolder.string();
  std::string repository = options.repository;
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

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int Walk() {
  CLSID clsid;
  CComPtr<IHub> hub;
  if (FAILED(CLSIDFromProgID(L"Touchpoint.Hub", &clsid)) ||
      FAILED(hub.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER))) {
    std::fprintf(stderr, "auralink-walk-bench: cannot create Touchpoint.Hub: %s\n",
                 auralink::platform::LastComFailureText());
    return 1;
  }
  hub->SetAgentName(CComBSTR(kAgent));

  auto start = std::chrono::steady_clock::now();
  LONG count = 0;
  auralink::PayloadArray ids;
  if (FAILED(hub->EnumInstances(CComBSTR(""), 0, nullptr, &count, ids.Receive()))) {
    std::fprintf(stderr, "auralink-walk-bench: EnumInstances failed\n");
    return 1;
  }
  double enumerated = SecondsSince(start);
  auto fetchStart = std::chrono::steady_clock::now();
  long fetched = 0, failed = 0;
  for (LONG i = 0; i < count; ++i) {
    CComBSTR id;
    CComBSTR instance;
    if (FAILED(auralink::GetBstrElement(ids.Get(), i, &id)) ||
        FAILED(hub->GetInstance(id, 0, nullptr, &instance))) {
      ++failed;  // an object without a status row cannot be read
    } else {
      ++fetched;
    }
  }
  double fetching = SecondsSince(fetchStart);
  double total = SecondsSince(start);
  std::printf("identifiers:   %d (enumerated in %.3f s)\n", static_cast<int>(count), enumerated);
  std::printf("objects read:  %ld, not readable: %ld (fetched in %.3f s)\n", fetched, failed, fetching);
  std::printf("walk:          %.3f s, %.0f objects per second\n", total, total > 0 ? count / total : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: auralink-walk-bench [--objects N] [--seed S] [--repository FILE] [--classes FILE]\n"
                 "                           [--modules DIR] [--keep]\n");
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

  int status = 1;
  if (Prepare(options, programFolder, work)) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    status = Walk();
    CoUninitialize();
  }
  if (options.keep) {
    std::printf("kept %s\n", work.c_str());
  } else {
    std::error_code ec;
    fs::remove_all(work, ec);
  }
  return status;
}
