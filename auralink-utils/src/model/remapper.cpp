#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>

#include <windows.h>
#include <winbase.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/classes_file_location.h"
#include "model/remapper_clock.h"
#include "model/supported_classes.h"

namespace auralink::model {

namespace {
std::atomic<TickSource> tickSource{nullptr};
}

ULONGLONG RemapperTicks() {
  const TickSource source = tickSource.load();
  return source ? source() : GetTickCount64();
}

void SetRemapperTickSource(TickSource source) { tickSource.store(source); }

}  // namespace auralink::model

namespace {
constexpr const char* kComponent = "Remapper";
constexpr DWORD kValueSize = MAX_PATH;
// An unusable file is read again once it changes, and at the latest this long after the
// last attempt (its name in the configuration may have changed instead).
constexpr ULONGLONG kRetryMilliseconds = 60 * 1000;

// What tells one state of a file from another without reading it.
struct FileStamp {
  bool exists = false;
  std::uintmax_t size = 0;
  std::filesystem::file_time_type modified{};
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& file) {
  FileStamp stamp;
  if (file.empty()) return stamp;
  std::error_code error;
  const std::filesystem::path path(auralink::model::NativePath(file));
  stamp.modified = std::filesystem::last_write_time(path, error);
  if (error) return FileStamp{};
  stamp.size = std::filesystem::file_size(path, error);
  if (error) return FileStamp{};
  stamp.exists = true;
  return stamp;
}

// One value of the configuration tree, or "" when absent.
std::string ReadConfigString(const std::string& key, const char* name, bool& found) {
  char value[kValueSize] = "";
  DWORD size = kValueSize;
  found = CConfRepositoryManager::GetInstance()->ReadStr(key.c_str(), name, nullptr, value, &size) != 0;
  return found ? std::string(value) : std::string();
}
}  // namespace

// The outcome of reading one agent's file: the classes, or why there are none.
struct CRemapper::AgentTable {
  std::string file;
  bool usable = false;
  auralink::model::SupportedClasses classes;
  std::string problem;  // the trace text of an unusable file
  FileStamp stamp;      // the file as it was just before it was read
  ULONGLONG readAt = 0;

  bool WorthReadingAgain() const {
    return auralink::model::RemapperTicks() - readAt >= kRetryMilliseconds || StampOf(file) != stamp;
  }
};

CRemapper* CRemapper::GetInstance() {
  // Never destroyed: processing classes may still remap while static objects are torn down.
  static CRemapper* instance = new CRemapper();
  return instance;
}

std::shared_ptr<const CRemapper::AgentTable> CRemapper::LoadTable(const std::string& agentName) {
  auto loaded = std::make_shared<AgentTable>();
  loaded->readAt = auralink::model::RemapperTicks();
  bool found = false;
  const std::string fileName = ReadConfigString(auralink::config::InstrumentationKey(agentName),
                                                auralink::config::kInstrumentationClassesFile, found);
  if (!found) {
    loaded->problem = "Unable to get the name of the supported classes file of the agent " + agentName;
    return loaded;
  }
  const std::string logFileName =
      ReadConfigString(auralink::config::AgentKey(agentName), auralink::config::kLogFileName, found);
  loaded->file = auralink::model::ResolveClassesFile(fileName, logFileName);
  // Stamped before reading: a change made while the file is read shows as a change later.
  loaded->stamp = StampOf(loaded->file);

  std::ifstream in(auralink::model::NativePath(loaded->file), std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in) {
    loaded->problem = "Unable to read the supported classes file " + loaded->file + " of the agent " + agentName;
    return loaded;
  }
  auralink::model::SupportedClasses::Error error;
  if (!auralink::model::SupportedClasses::Parse(text.str(), agentName, loaded->classes, error)) {
    loaded->problem =
        "Supported classes file " + loaded->file + ", line " + std::to_string(error.line) + ": " + error.message;
    return loaded;
  }
  loaded->usable = true;
  CTraceUtils::GetInstance()->LogMsg(2, kComponent, "Read %d classes and %d link types of the agent %s from %s",
                                     static_cast<int>(loaded->classes.Classes().size()),
                                     static_cast<int>(loaded->classes.Links().size()), agentName.c_str(),
                                     loaded->file.c_str());
  return loaded;
}

std::shared_ptr<const CRemapper::AgentTable> CRemapper::TableOf(const std::string& agentName) {
  std::shared_ptr<const AgentTable> table;
  bool recovered = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& cached = tables_[agentName];
    // A usable file is kept; an unusable one is not, so that a long-running listener
    // recovers once the file is mended.
    if (!cached) {
      cached = LoadTable(agentName);
    } else if (!cached->usable && cached->WorthReadingAgain()) {
      cached = LoadTable(agentName);
      recovered = cached->usable;
    }
    table = cached;
  }
  if (recovered)
    CTraceUtils::GetInstance()->LogMsg(1, kComponent, "The supported classes file %s of the agent %s is usable again",
                                       table->file.c_str(), agentName.c_str());
  if (!table->usable) CTraceUtils::GetInstance()->LogMsg(0, kComponent, "%s", table->problem.c_str());
  return table;
}

int CRemapper::GetClasses(const std::string& agentName, std::map<std::string, CGenericClass>& classes) {
  classes.clear();
  const auto table = TableOf(agentName);
  if (!table->usable) return 0;
  classes = table->classes.Classes();
  return 1;
}

int CRemapper::GetLinks(const std::string& agentName, std::vector<CGenericLink>& links) {
  links.clear();
  const auto table = TableOf(agentName);
  if (!table->usable) return 0;
  links = table->classes.Links();
  return 1;
}

int CRemapper::Remap(const std::string& agentName, CInstance& instance) {
  const auto table = TableOf(agentName);
  if (!table->usable) return 0;
  if (table->classes.Remap(instance)) return 1;
  switch (instance.m_type) {
    case CInstance::TYPE_INSTANCE:
      CTraceUtils::GetInstance()->LogMsg(3, kComponent, "The agent %s does not support the class %s",
                                         agentName.c_str(), instance.m_className.c_str());
      break;
    case CInstance::TYPE_LINK:
      CTraceUtils::GetInstance()->LogMsg(3, kComponent, "The agent %s has no link type from %s to %s",
                                         agentName.c_str(), instance.m_sourceClass.c_str(),
                                         instance.m_targetClass.c_str());
      break;
    case CInstance::TYPE_EVENT:
      CTraceUtils::GetInstance()->LogMsg(3, kComponent, "The agent %s does not support events of the class %s",
                                         agentName.c_str(), instance.m_eventObjectClass.c_str());
      break;
    default:
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Unable to remap an object of the unknown type %d",
                                         static_cast<int>(instance.m_type));
  }
  return 0;
}

void CRemapper::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  tables_.clear();
}
