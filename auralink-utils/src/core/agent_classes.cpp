#include <auralink/agent_classes.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>
#include <windows.h>
#include <objbase.h>
#include <auralink/platform/guid_text.h>
#include <auralink/platform/error_text.h>

#include <string>

namespace auralink {

void* CreateAgentClass(const char* component, const std::string& agentName, const char* valueName, REFIID iid) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  std::string agentKey = config::AgentKey(agentName);
  char classText[MAX_PATH] = "";
  DWORD size = sizeof classText;
  if (!CConfRepositoryManager::GetInstance()->ReadStr(agentKey.c_str(), valueName, nullptr, classText, &size)) {
    trace->LogMsg(0, component, "Agent %s: no %s in the key %s", agentName.c_str(), valueName, agentKey.c_str());
    return nullptr;
  }
  CLSID clsid;
  if (!platform::GuidFromString(classText, clsid)) {
    trace->LogMsg(0, component, "Agent %s: the %s \"%s\" is not a class identifier", agentName.c_str(), valueName,
                  classText);
    return nullptr;
  }
  void* object = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object);
  if (FAILED(hr) || !object) {
    // The reason: what the COM runtime noted (the Linux platform names the module, the
    // loader's message or the missing key), otherwise the system's text for the code.
    std::string reason = platform::LastComFailureText();
    if (reason.empty()) reason = platform::ErrorMessageText(static_cast<DWORD>(hr));
    trace->LogMsg(0, component, "Agent %s: unable to create the class %s of its %s (hr = 0x%08X): %s",
                  agentName.c_str(), classText, valueName, static_cast<unsigned>(hr), reason.c_str());
    return nullptr;
  }
  trace->LogMsg(2, component, "Agent %s: class %s of its %s created", agentName.c_str(), classText, valueName);
  return object;
}

}  // namespace auralink
