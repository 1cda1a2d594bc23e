// Opens the process's trace for one agent as the configuration describes it: the agent's
// "LogFileName", and "TraceLevel" and "MaxFileLogSize" of the root key (absent values keep
// everything and set no size limit). Used by the programs that run for one agent.
#pragma once
#include <string>

void StartAgentTrace(const std::string& agentName);
