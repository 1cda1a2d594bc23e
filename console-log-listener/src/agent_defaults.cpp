#include "agent_defaults.h"

#include <windows.h>
#include <atlbase.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>
#include <auralink/platform/guid_text.h>
#include <auralink/platform/module_path.h>


namespace marrowby {

namespace {

namespace config = auralink::config;

constexpr const char* kComponent = "Marrowby";

LSTATUS CreateKey(HKEY parent, const char* subKey, HKEY* key) {
  return RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key,
                         nullptr);
}

LSTATUS SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
  return RegSetValueExA(key, name, 0, type, data, size);
}

// Writes keys and values until the first failure; afterwards every call does nothing.
class DefaultsWriter {
 public:
  // Creates (or opens) `subKey` below `parent` into `key`.
  void Create(HKEY parent, const char* subKey, CRegKey& key) {
    if (result_ != ERROR_SUCCESS) return;
    HKEY created = nullptr;
    result_ = RegistryWrites().createKey(parent, subKey, &created);
    if (result_ == ERROR_SUCCESS) {
      key.Attach(created);
    } else {
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "DLLRegister: Unable to create the key %s (error %d)", subKey,
                                         static_cast<int>(result_));
    }
  }
  void SetText(HKEY key, const char* name, const std::string& text) {
    if (result_ != ERROR_SUCCESS) return;
    result_ = RegistryWrites().setValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                        static_cast<DWORD>(text.size() + 1));
    if (result_ != ERROR_SUCCESS) {
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "DLLRegister: Unable to set value for key = %s (value = %s)",
                                         name, text.c_str());
    }
  }
  void SetNumber(HKEY key, const char* name, DWORD number) {
    if (result_ != ERROR_SUCCESS) return;
    result_ = RegistryWrites().setValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    if (result_ != ERROR_SUCCESS) {
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "DLLRegister: Unable to set value for key = %s (value = %d)",
                                         name, static_cast<int>(number));
    }
  }
  LSTATUS Result() const { return result_; }

 private:
  LSTATUS result_ = ERROR_SUCCESS;
};

}  // namespace

RegistryWriteCalls& RegistryWrites() {
  static RegistryWriteCalls calls = {&CreateKey, &SetValue};
  return calls;
}

LSTATUS WriteAgentDefaults(const std::string& moduleDirectory, REFCLSID processingId, REFCLSID listeningId) {
  const std::string agent = config::kEventAgent;
  DefaultsWriter writer;
  CRegKey root, agentKey, eventListening, eventLogs, log, orvexSettings, instrumentation, adapter;
  writer.Create(HKEY_LOCAL_MACHINE, config::kRootKey, root);
  writer.Create(root, agent.c_str(), agentKey);
  writer.SetText(agentKey, config::kLogFileName,
                 auralink::platform::JoinPath(moduleDirectory, agent + config::kLogFileSuffix));
  writer.SetText(agentKey, config::kProcessingId, auralink::platform::GuidToString(processingId, false));
  writer.SetText(agentKey, config::kListeningId, auralink::platform::GuidToString(listeningId, false));

  writer.Create(agentKey, config::kEventListeningKey, eventListening);
  writer.Create(eventListening, config::kEventLogsKey, eventLogs);
  writer.Create(eventLogs, config::kTngLogKey, log);
  writer.SetText(log, config::kRefreshTime, config::kDefaultRefreshTime);
  writer.SetText(log, config::kLastRefresh, config::kDefaultLastRefresh);
  writer.SetText(log, config::kStartMode, config::kDefaultStartMode);
  writer.SetText(log, config::kMsgFilter, config::kDefaultMsgFilter);
  writer.SetNumber(log, config::kLastMsgNr, config::kDefaultLastMsgNr);

  writer.Create(agentKey, config::kOrvexSettingsKey, orvexSettings);
  writer.Create(orvexSettings, config::kInstrumentationKey, instrumentation);
  writer.Create(orvexSettings, config::kAdapterKey, adapter);
  writer.SetText(instrumentation, config::kInstrumentationName, config::kDefaultInstrumentationName);
  writer.SetText(instrumentation, config::kInstrumentationSign, config::kDefaultInstrumentationSign);
  writer.SetText(instrumentation, config::kInstrumentationCertificate, config::kDefaultInstrumentationCertificate);
  writer.SetText(instrumentation, config::kInstrumentationClassesFile,
                 auralink::platform::JoinPath(moduleDirectory, config::kClassesFileName));
  return writer.Result();
}

void RemoveAgentDefaults() {
  CRegKey root;
  if (root.Open(HKEY_LOCAL_MACHINE, config::kRootKey, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) return;
  RegDeleteTreeA(root, config::kEventAgent);
  char name[MAX_PATH] = "";
  DWORD size = sizeof name;
  const bool anotherAgent = RegEnumKeyExA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  root.Close();
  if (!anotherAgent) RegDeleteKeyA(HKEY_LOCAL_MACHINE, config::kRootKey);
}

}  // namespace marrowby
