#include <auralink/agent_trace.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>

void StartAgentTrace(const std::string& agentName) {
  namespace config = auralink::config;
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  DWORD type = 0;
  DWORD size = MAX_PATH;
  LONG traceLevel = -1;
  if (!repository->ReadNum(config::kRootKey, config::kTraceLevel, &type, &traceLevel, &size)) traceLevel = -1;
  LONG maxFileLogSize = -1;
  size = MAX_PATH;
  if (!repository->ReadNum(config::kRootKey, config::kMaxFileLogSize, &type, &maxFileLogSize, &size))
    maxFileLogSize = -1;
  char logFileName[MAX_PATH] = {};
  size = sizeof logFileName;
  if (!repository->ReadStr(config::AgentKey(agentName).c_str(), config::kLogFileName, &type, logFileName, &size))
    logFileName[0] = '\0';
  CTraceUtils::GetInstance()->LogInitAppend(logFileName, traceLevel, 0, maxFileLogSize);
}
