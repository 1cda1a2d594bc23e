#include "listener_sandbox.h"
#include <module_function.h>

#include <auralink/conf_repository.h>
#include <auralink/trace_utils.h>
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace marrowby::testing {

namespace {

std::string Saved(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

constexpr const char* kCautilVariables[] = {"CAUTIL_CONSOLE_LOG", "CAUTIL_DELAY_MS", "CAUTIL_EXIT_CODE",
                                            "CAUTIL_FAIL", "CAUTIL_COMMAND_LOG"};

}  // namespace

#ifdef _WIN32
constexpr char kPathSeparator = ';';
constexpr const char* kTemporaryFolderVariable = "TMP";
#else
constexpr char kPathSeparator = ':';
constexpr const char* kTemporaryFolderVariable = "TMPDIR";
#endif

ListenerSandbox::ListenerSandbox() : savedPath_(Saved("PATH")), savedTmpdir_(Saved(kTemporaryFolderVariable)) {
  CTraceUtils::GetInstance()->LogInitAppend(sandbox_.TraceFile().c_str(), -1, 0, -1);
  SetVariable("PATH", (std::string(CAUTIL_FOLDER) + kPathSeparator + savedPath_).c_str());
  SetVariable(kTemporaryFolderVariable, sandbox_.Dir().c_str());
  for (const char* name : kCautilVariables) SetVariable(name, nullptr);
  SetVariable("CAUTIL_CONSOLE_LOG", sandbox_.Path("console.log").c_str());
}

ListenerSandbox::~ListenerSandbox() {
  CTraceUtils::GetInstance()->Close();
  SetVariable("PATH", savedPath_.empty() ? nullptr : savedPath_.c_str());
  SetVariable(kTemporaryFolderVariable, savedTmpdir_.empty() ? nullptr : savedTmpdir_.c_str());
  for (const char* name : kCautilVariables) SetVariable(name, nullptr);
}

void ListenerSandbox::AddMessage(std::time_t when, const std::string& node, const std::string& user,
                                 const std::string& text) {
  std::ofstream log(sandbox_.Path("console.log"), std::ios::app);
  log << static_cast<long long>(when) << '\t' << node << '\t' << user << "\tstation1\t" << text << '\n';
}

void ListenerSandbox::SetVariable(const char* name, const char* value) {
  auralink::testing::TestSandbox::SetVariable(name, value);
}

std::string ListenerSandbox::Trace() const {
  return auralink::testing::TestSandbox::ReadFile(sandbox_.TraceFile());
}

int ListenerSandbox::TraceCount(const std::string& text) const {
  std::string trace = Trace();
  int count = 0;
  for (size_t at = trace.find(text); at != std::string::npos; at = trace.find(text, at + 1)) ++count;
  return count;
}

int ListenerSandbox::DumpFilesLeft() const {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(sandbox_.Dir())) {
    if (entry.path().filename().string().rfind("marrowby-", 0) == 0) ++count;
  }
  return count;
}

RecordingLog::RecordingLog(const std::string& startMode, const std::string& msgFilter, const std::string& lastRefresh,
                           DWORD msgNr, LONG refreshTime)
    : LogPollThrd(kStateKey, refreshTime, lastRefresh, startMode, msgFilter, msgNr) {}

int RecordingLog::OnLogEvent(short operation, const std::string& opDummyStream, const std::string& opStream) {
  if (refusing_) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (operation == 7 && opDummyStream.empty()) streams_.push_back(opStream);
  return 1;
}

std::vector<std::string> RecordingLog::Streams() {
  std::lock_guard<std::mutex> lock(mutex_);
  return streams_;
}

int RecordingLog::StreamsWith(const std::string& text) {
  int count = 0;
  for (const std::string& stream : Streams()) count += stream.find(text) != std::string::npos;
  return count;
}

namespace {

HMODULE Module() {
  static HMODULE module = [] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    return LoadLibraryA(MARROWBY_MODULE);
  }();
  return module;
}

}  // namespace

HRESULT CallModule(const char* entryPoint) {
  typedef HRESULT(STDAPICALLTYPE * EntryPoint)();
  HMODULE module = Module();
  auto function = module ? auralink::testing::ModuleFunction<EntryPoint>(module, entryPoint) : nullptr;
  return function ? function() : E_UNEXPECTED;
}

std::string ModuleFile() {
  char path[MAX_PATH] = "";
  if (HMODULE module = Module()) GetModuleFileNameA(module, path, sizeof path);
  return path;
}

std::string Text(const std::string& key, const char* name) {
  char value[260] = "<absent>";
  DWORD size = sizeof value;
  CConfRepositoryManager::GetInstance()->ReadStr(key.c_str(), name, nullptr, value, &size);
  return value;
}

DWORD Number(const std::string& key, const char* name) {
  DWORD value = 0xFFFFFFFF;
  CConfRepositoryManager::GetInstance()->ReadNum(key.c_str(), name, nullptr, &value, nullptr);
  return value;
}

bool KeyExists(const std::string& path) {
  CRegKey key;
  return key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

}  // namespace marrowby::testing
