#include "settings_summary.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>

#include <cstdio>
#include <optional>
#include <string>

#include "setup_common.h"

namespace zeltsetup {

namespace {

namespace config = auralink::config;

constexpr size_t kLabelWidth = 26;
// A port stored with all bits set counts as never set.
constexpr DWORD kPortNotSet = 0xFFFFFFFFu;

std::optional<std::string> ReadText(const std::string& key, const char* name) {
  char value[MAX_PATH] = "";
  DWORD type = 0;
  DWORD size = MAX_PATH;
  if (!CConfRepositoryManager::GetInstance()->ReadStr(key.c_str(), name, &type, value, &size)) return std::nullopt;
  return std::string(value);
}

DWORD ReadPort(const std::string& key, const char* name, const char* missingSubject) {
  DWORD port = kPortNotSet;
  DWORD size = MAX_PATH;
  if (!CConfRepositoryManager::GetInstance()->ReadNum(key.c_str(), name, nullptr, &port, &size)) {
    CTraceUtils::GetInstance()->LogMsg(0, kTraceComponent, "%s not found in the registry", missingSubject);
    return kPortNotSet;
  }
  return port;
}

// The stored text, or the default with a trace line naming the setting.
std::string TextOrDefault(const std::string& key, const char* name, const std::string& fallback,
                          const char* missingSubject) {
  if (auto value = ReadText(key, name)) return *value;
  CTraceUtils::GetInstance()->LogMsg(2, kTraceComponent, "%s not found in the registry, default = %s", missingSubject,
                                     fallback.c_str());
  return fallback;
}

// Label words padded with blanks to the fixed width, so the values form one column.
std::string Label(std::string_view words) {
  std::string label(words);
  if (label.size() < kLabelWidth) label.append(kLabelWidth - label.size(), ' ');
  return label;
}

void PrintSetting(std::string_view words, const std::string& value) {
  std::printf("%s%s\n", Label(words).c_str(), value.c_str());
}

void PrintPort(std::string_view words, DWORD port) {
  const std::string label(words);
  if (port == kPortNotSet)
    std::printf("%s was not set. It must be set before launching product\n", label.c_str());
  else
    std::printf("%s%u\n", Label(words).c_str(), static_cast<unsigned>(port));
}

}  // namespace

void PrintSummary(const SetupAgent& agent) {
  const std::string& adapter = agent.adapterKey;
  const std::string loggingMode =
      TextOrDefault(adapter, config::kLoggingModeDefault, config::kDefaultLoggingMode, "Logging mode");
  const std::string loggingFile = TextOrDefault(adapter, config::kLoggingModeFileName,
                                                agent.name + config::kLoggingModeFileSuffix, "Logging file name");
  const DWORD requestPort = ReadPort(adapter, config::kTransportRequestPort, "Request port number");
  const DWORD responsePort = ReadPort(adapter, config::kTransportResponsePort, "Response port number");
  const DWORD serverPort = ReadPort(adapter, config::kTransportServerQlinkPort, "Server port number");
  std::optional<std::string> serverAddress = ReadText(adapter, config::kTransportServerAddress);
  if (!serverAddress) {
    serverAddress = "Server Address not found in the registry! It must be set";
    CTraceUtils::GetInstance()->LogMsg(0, kTraceComponent, "Server address not found in the registry");
  }
  const std::string localStore = TextOrDefault(adapter, config::kTransportLocalQueueStore, config::kDefaultQueueStore,
                                               "Local Queue Store");
  const std::string remoteStore = TextOrDefault(adapter, config::kTransportRemoteQueueStore,
                                                config::kDefaultQueueStore, "Remote Queue Store");
  const std::string refreshTime =
      TextOrDefault(agent.listenerKey, config::kRefreshTime, config::kDefaultRefreshTime, "Refresh Time");

  PrintSetting("Logging Mode", loggingMode);
  PrintSetting("Log File Name", loggingFile);
  PrintPort("Request Port Number", requestPort);
  PrintPort("Response Port Number", responsePort);
  PrintPort("Server Port Number", serverPort);
  PrintSetting("Server Address", *serverAddress);
  PrintSetting("Local Queue Store", localStore);
  PrintSetting("Remote Queue Store", remoteStore);
  PrintSetting("Refresh Time", refreshTime);
  if (agent.mode != Mode::Event) return;

  PrintSetting("Start Mode",
               TextOrDefault(agent.listenerKey, config::kStartMode, config::kDefaultStartMode, "Start Mode"));
  PrintSetting("Message Filter",
               TextOrDefault(agent.listenerKey, config::kMsgFilter, config::kDefaultMsgFilter, "Message Filter"));
  if (auto subnetMask = ReadText(agent.subnetKey, config::kSubnetMask))
    PrintSetting("Subnet Mask", *subnetMask);
  else
    std::puts(
        "No subnet mask was set. Default subnet mask will be used -> CLASS A: 255.0.0.0, CLASS B: 255.255.0.0, "
        "CLASS C: 255.255.255.0");
}

}  // namespace zeltsetup
