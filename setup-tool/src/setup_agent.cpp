#include "setup_agent.h"

#include <auralink/config_keys.h>

#include "setup_common.h"

namespace zeltsetup {

namespace {

namespace config = auralink::config;

// What lies left of the last "\" (nothing when there is none).
std::string ParentKey(const std::string& key) {
  const size_t separator = key.rfind('\\');
  return separator == std::string::npos ? std::string() : key.substr(0, separator);
}

SetupAgent AgentWithListener(Mode mode, const char* name, std::string listenerKey) {
  SetupAgent agent;
  agent.mode = mode;
  agent.name = name;
  agent.agentKey = config::AgentKey(name);
  agent.adapterKey = config::AdapterKey(name);
  // The event agent keeps its subnet mask two levels above its console log, beside
  // "EventLogs", because the mask serves every log of the agent.
  agent.subnetKey = ParentKey(ParentKey(listenerKey));
  agent.listenerKey = std::move(listenerKey);
  return agent;
}

}  // namespace

std::optional<SetupAgent> SelectAgent(std::string_view modeWord) {
  const std::string mode = LowerCase(modeWord);
  if (mode == "-i")
    return AgentWithListener(Mode::Instance, config::kInstanceAgent,
                             config::PollingTableKey(config::kInstanceAgent, config::kManagedObjectsKey));
  if (mode == "-e")
    return AgentWithListener(Mode::Event, config::kEventAgent,
                             config::EventLogKey(config::kEventAgent, config::kTngLogKey));
  return std::nullopt;
}

}  // namespace zeltsetup
