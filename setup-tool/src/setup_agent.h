// The agent a run looks after, chosen by the mode word, and the keys of its settings.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace zeltsetup {

enum class Mode { Instance, Event };

struct SetupAgent {
  Mode mode = Mode::Instance;
  std::string name;         // "QuillonLst" or "MarrowbyLst"
  std::string agentKey;     // root\agent
  std::string adapterKey;   // agent\OrvexSettings\Adapter
  std::string listenerKey;  // the registered table entry or console log
  std::string subnetKey;    // the listener key less its last two components
};

// "-i" selects the instance agent, "-e" the event agent, in either case; any other word
// selects none.
std::optional<SetupAgent> SelectAgent(std::string_view modeWord);

}  // namespace zeltsetup
