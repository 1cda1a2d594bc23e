#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>

#include <fstream>
#include <sstream>

#include "model/classes_file_location.h"
#include "model/supported_classes.h"

namespace {
constexpr const char* kComponent = "Remapper";
constexpr DWORD kValueSize = MAX_PATH;

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
};

CRemapper* CRemapper::GetInstance() {
  // Never destroyed: processing classes may still remap while static objects are torn down.
  static CRemapper* instance = new CRemapper();
  return instance;
}

std::shared_ptr<const CRemapper::AgentTable> CRemapper::LoadTable(const std::string& agentName) {
  auto loaded = std::make_shared<AgentTable>();
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

  std::ifstream in(auralink::model::NativePath(loaded->file), std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in) {
    loaded->problem = "Unable to read the supported classes file " + loaded->file + " of the agent " + agentName;
    return loaded;
  }
  auralink::model::SupportedClasses::Error error;
  if (!auralink::model::SupportedClasses::Parse(text.str(), loaded->classes, error)) {
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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& cached = tables_[agentName];
    if (!cached) cached = LoadTable(agentName);
    table = cached;
  }
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
