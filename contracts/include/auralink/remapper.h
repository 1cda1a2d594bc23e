// The remapper: translates the objects of an agent into Orvex terms, driven by the agent's
// supported-classes file (docs/supported-classes.md), from the statements for every agent
// and those of the agent's own section. The file is read the first time an agent is asked
// for and a usable reading is kept for the life of the process; an unusable one is read
// again once the file changes, or a minute after the last attempt.
#pragma once
#include <auralink/generic_class.h>
#include <auralink/instance.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace auralink::model {
class SupportedClasses;
}

class CRemapper {
 public:
  static CRemapper* GetInstance();

  // The agent's supported classes by source class name. 1 on success; 0 (map emptied)
  // when the agent's file cannot be found or read or is malformed.
  int GetClasses(const std::string& agentName, std::map<std::string, CGenericClass>& classes);
  // The agent's link types in file order. 1 on success; 0 (array emptied) as GetClasses.
  int GetLinks(const std::string& agentName, std::vector<CGenericLink>& links);
  // Translates the object in place by its m_type. 0, with the object untouched, when the
  // agent does not want it (class or link not listed) or its file is unusable.
  //  - instance: m_className must be a listed source class; it becomes the Orvex class and
  //    attribute and key names are renamed;
  //  - link: each end class may be a listed source class or the Orvex class one becomes;
  //    the first link line matching both ends gives m_linkType, and both ends become Orvex
  //    classes;
  //  - event: m_eventObjectClass may be a listed source class or, failing that, the Orvex
  //    class of one; it becomes the Orvex class, and attributes are renamed when it was
  //    named as the source class.
  int Remap(const std::string& agentName, CInstance& instance);

  // Forgets every file read so far: the next call of each agent reads its file again.
  void Reset();

  CRemapper(const CRemapper&) = delete;
  CRemapper& operator=(const CRemapper&) = delete;

 private:
  struct AgentTable;
  CRemapper() = default;
  static std::shared_ptr<const AgentTable> LoadTable(const std::string& agentName);
  std::shared_ptr<const AgentTable> TableOf(const std::string& agentName);

  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const AgentTable>> tables_;
};
