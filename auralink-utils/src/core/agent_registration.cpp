#include <windows.h>
#include <atlbase.h>
#include <auralink/agent_registration.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>

#include <cstring>
#include <string>
#include <vector>



namespace {

constexpr const char* kComponent = "AgentRegistration";

bool SetString(HKEY key, const char* name, const char* text) {
  const char* value = text ? text : "";
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>(std::strlen(value) + 1)) == ERROR_SUCCESS;
}

// The recorded description, or false when the record has none.
bool RecordedDescription(HKEY key, std::string* description) {
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  if (RegQueryValueExA(key, auralink::kAgentDescriptionValue, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  std::vector<char> text(bytes + 1, '\0');
  if (RegQueryValueExA(key, auralink::kAgentDescriptionValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                       &bytes) != ERROR_SUCCESS)
    return false;
  *description = text.data();
  return true;
}

}  // namespace

int RegisterAgent(const char* agentName, const char* description, const char* text, LONG type) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!agentName || !*agentName) {
    trace->LogMsg(0, kComponent, "An agent without a name cannot be registered");
    return 0;
  }
  std::string path = auralink::config::JoinKey(auralink::kAgentRegistryKey, agentName);
  CRegKey key;
  DWORD number = static_cast<DWORD>(type);
  bool written = key.Create(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS &&
                 SetString(key.m_hKey, auralink::kAgentDescriptionValue, description) &&
                 SetString(key.m_hKey, auralink::kAgentTextValue, text) &&
                 RegSetValueExA(key.m_hKey, auralink::kAgentTypeValue, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), sizeof number) == ERROR_SUCCESS;
  if (!written) {
    trace->LogMsg(0, kComponent, "Unable to register the agent %s under %s", agentName, path.c_str());
    return 0;
  }
  trace->LogMsg(1, kComponent, "Agent %s registered (%s)", agentName, description ? description : "");
  return 1;
}

int UnregisterAgent(const char* agentName, const char* description) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!agentName || !*agentName) {
    trace->LogMsg(0, kComponent, "An agent without a name cannot be unregistered");
    return 0;
  }
  CRegKey registry;
  if (registry.Open(HKEY_LOCAL_MACHINE, auralink::kAgentRegistryKey, KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
    return 1;  // nothing recorded
  {
    CRegKey agent;
    if (agent.Open(registry.m_hKey, agentName, KEY_READ) != ERROR_SUCCESS) return 1;
    std::string recorded;
    if (description && RecordedDescription(agent.m_hKey, &recorded) && recorded != description) {
      trace->LogMsg(0, kComponent, "The agent %s was registered as \"%s\", not as \"%s\"; its record stays",
                    agentName, recorded.c_str(), description);
      return 0;
    }
  }
  LSTATUS status = RegDeleteTreeA(registry.m_hKey, agentName);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    trace->LogMsg(0, kComponent, "Unable to remove the record of the agent %s (error %ld)", agentName,
                  static_cast<long>(status));
    return 0;
  }
  DWORD agentsLeft = 0;
  if (RegQueryInfoKeyA(registry.m_hKey, nullptr, nullptr, nullptr, &agentsLeft, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      agentsLeft == 0) {
    registry.Close();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, auralink::kAgentRegistryKey);
  }
  trace->LogMsg(1, kComponent, "Agent %s unregistered", agentName);
  return 1;
}
