// zeltsetup: stores the operator's settings of the instance agent (-i) or the event agent
// (-e) in the configuration tree, or with the mode word alone prints a summary of them.
// Exit status 0 only when the given options were processed to the end.
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "option_processing.h"
#include "settings_summary.h"
#include "setup_agent.h"
#include "setup_common.h"
#include "usage_text.h"

namespace {

namespace config = auralink::config;

// The program's own module and a command line to work from.
bool StartFramework(int argc, char** argv) { return argc >= 1 && argv && GetModuleHandle(nullptr) != nullptr; }

// A number of the root key, or `fallback` when it is absent.
LONG RootNumber(const char* name, LONG fallback) {
  LONG number = fallback;
  DWORD type = 0;
  DWORD size = MAX_PATH;
  CConfRepositoryManager::GetInstance()->ReadNum(config::kRootKey, name, &type, &number, &size);
  return number;
}

// The option path traces into the agent's log file; the summary traces nowhere.
void OpenTrace(const zeltsetup::SetupAgent& agent, LONG traceLevel, LONG maxFileLogSize) {
  char logFileName[MAX_PATH] = "";
  DWORD type = 0;
  DWORD size = MAX_PATH;
  CConfRepositoryManager::GetInstance()->ReadStr(agent.agentKey.c_str(), config::kLogFileName, &type, logFileName,
                                                 &size);
  CTraceUtils::GetInstance()->LogInitAppend(logFileName, traceLevel, 0, maxFileLogSize);
}

}  // namespace

int main(int argc, char** argv) {
  if (!StartFramework(argc, argv)) {
    std::fputs("Fatal Error: MFC initialization failed\n", stderr);
    return zeltsetup::kExitStopped;
  }
  const LONG traceLevel = RootNumber(config::kTraceLevel, config::kDefaultTraceLevel);
  const LONG maxFileLogSize = RootNumber(config::kMaxFileLogSize, config::kDefaultMaxFileLogSize);

  const auto agent = argc >= 2 ? zeltsetup::SelectAgent(argv[1]) : std::nullopt;
  if (!agent) {
    zeltsetup::PrintUsage();
    return zeltsetup::kExitStopped;
  }
  if (argc == 2) {
    zeltsetup::PrintSummary(*agent);
    return zeltsetup::kExitStopped;
  }
  OpenTrace(*agent, traceLevel, maxFileLogSize);
  return zeltsetup::StoreOptions(*agent, std::vector<std::string>(argv + 2, argv + argc));
}
