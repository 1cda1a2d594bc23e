// The adapter's settings: what it reads from its agent's keys, the defaults it applies,
// the classes and link types it registers, and the local host name.
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "adapter_constants.h"
#include "orvex_adapter.h"
#include "orvex_settings_access.h"

namespace config = auralink::config;
using auralink::orvex::kAdapterComponent;
using auralink::orvex::ReadNumberSetting;
using auralink::orvex::ReadStringSetting;

namespace {
constexpr const char* kTransportClassName = "com.kestrova.hubrelay.transport.qlink.client.ClientTransportQlink";
constexpr const char* kFileRegistry = "com.hollin.qlink.registry.QlinkFileSession";
constexpr const char* kServerQueueAddress = "ServerQM+ServerQ";

std::string UpperCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}
}  // namespace

int COrvexAdapter::ReadSettings() {
  const std::string instrumentationSubset = config::InstrumentationKey(agentName);
  const std::string adapterSubset = config::AdapterKey(agentName);
  if (ReadInstrumentationSettings(instrumentationSubset) && ReadAdapterSettings(adapterSubset) &&
      ReadTransportSettings(adapterSubset) && WriteAdapterConf())
    return 1;
  CTraceUtils::GetInstance()->LogMsg(
      0, kAdapterComponent, "Settings missing or damaged. Communication to the Orvex Hubrelay cannot be established");
  return 0;
}

int COrvexAdapter::ReadInstrumentationSettings(const std::string& subset) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  const char* key = subset.c_str();
  if (!ReadStringSetting(key, config::kInstrumentationName, instrumentationName)) {
    trace->LogMsg(0, kAdapterComponent, "Unable to get the instrumentation name");
    return 0;
  }
  trace->LogMsg(2, kAdapterComponent, "Instrumentation name has been set to %s", instrumentationName.c_str());
  if (!ReadStringSetting(key, config::kInstrumentationSign, authenticationSign)) {
    trace->LogMsg(0, kAdapterComponent, "Unable to get the instrumentation's authentication sign");
    return 0;
  }
  trace->LogMsg(2, kAdapterComponent, "Instrumentation's authentication sign has been set to %s",
                authenticationSign.c_str());
  if (!ReadStringSetting(key, config::kInstrumentationCertificate, authenticationCertificate)) {
    trace->LogMsg(0, kAdapterComponent, "Unable to get the instrumentation's authentication certificate");
    return 0;
  }
  trace->LogMsg(2, kAdapterComponent, "Instrumentation's authentication certificate has been set to %s",
                authenticationCertificate.c_str());
  responseWait = auralink::orvex::ASYNC_ERROR_RESPONSE;
  std::string classesFile;
  if (!ReadStringSetting(key, config::kInstrumentationClassesFile, classesFile)) {
    trace->LogMsg(0, kAdapterComponent, "Unable to get the name of the file containing the list of supported classes");
    return 0;
  }
  // Only traced: the remapper finds the file itself.
  trace->LogMsg(2, kAdapterComponent,
                "The filename of the file containing the list of supported classes has been set to %s",
                classesFile.c_str());
  if (!LoadSupportedClasses()) {
    trace->LogMsg(0, kAdapterComponent, "Unable to get list of supported classes and links");
    return 0;
  }
  trace->LogMsg(2, kAdapterComponent, "Supported classes and links have been successfully gotten");
  return 1;
}

int COrvexAdapter::LoadSupportedClasses() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(1, kAdapterComponent, "Getting list of supported classes and links");
  std::map<std::string, CGenericClass> classes;
  if (!CRemapper::GetInstance()->GetClasses(agentName, classes)) return 0;
  std::vector<CGenericLink> links;
  if (!CRemapper::GetInstance()->GetLinks(agentName, links)) return 0;
  // Several source classes may become one Orvex class: each name is registered once, in
  // the order first seen.
  for (const auto& [sourceClass, supported] : classes) {
    const std::string& name = supported.m_className;
    if (std::find(supportedClasses.begin(), supportedClasses.end(), name) != supportedClasses.end()) continue;
    supportedClasses.push_back(name);
    trace->LogMsg(2, kAdapterComponent, "Class: %s", name.c_str());
  }
  for (const CGenericLink& link : links) {
    const std::string& type = link.m_linkType;
    if (std::find(supportedLinkTypes.begin(), supportedLinkTypes.end(), type) != supportedLinkTypes.end()) continue;
    supportedLinkTypes.push_back(type);
    trace->LogMsg(2, kAdapterComponent, "Link type: %s", type.c_str());
  }
  return 1;
}

int COrvexAdapter::ReadAdapterSettings(const std::string& subset) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  const char* key = subset.c_str();
  if (!loggingMode) {  // -log on the command line wins over the stored default
    std::string stored;
    if (ReadStringSetting(key, config::kLoggingModeDefault, stored)) {
      if (UpperCase(stored) == "TRUE") {
        loggingMode = 1;
        trace->LogMsg(2, kAdapterComponent, "Logging mode has been set to TRUE");
      } else {
        trace->LogMsg(2, kAdapterComponent, "Logging mode has been set to FALSE");
      }
    } else {
      trace->LogMsg(1, kAdapterComponent,
                    "Warning: the default logging mode has not been specified. It will be set to FALSE");
    }
  }
  if (loggingModeFile.empty() && !ReadStringSetting(key, config::kLoggingModeFileName, loggingModeFile))
    loggingModeFile = agentName + config::kLoggingModeFileSuffix;
  trace->LogMsg(2, kAdapterComponent, "Logging File Name (for loggin mode) has been set to %s",
                loggingModeFile.c_str());
  xmlValidation = config::kDefaultXmlValidation;
  ReadStringSetting(key, config::kAdapterXmlValidation, xmlValidation);
  trace->LogMsg(2, kAdapterComponent, "XML validation has been set to %s", xmlValidation.c_str());
  return 1;
}

int COrvexAdapter::ReadTransportSettings(const std::string& subset) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  const char* key = subset.c_str();
  transportClassName = kTransportClassName;
  trace->LogMsg(2, kAdapterComponent, "transport.class.name has been set to %s", transportClassName.c_str());
  const std::string host = GetLocalHostName();
  localAddress = host;
  ReadStringSetting(key, config::kTransportLocalAddress, localAddress);
  trace->LogMsg(2, kAdapterComponent, "transport.local.ip.address has been set to %s", localAddress.c_str());
  const std::string agent = UpperCase(agentName);
  requestAddress = localAddress + "." + agent + ".QM+" + agent + ".Q";
  trace->LogMsg(2, kAdapterComponent, "transport.request.address has been set to %s", requestAddress.c_str());
  responseAddress = localAddress + "." + agent + ".QM+" + agent + ".Q";
  trace->LogMsg(2, kAdapterComponent, "transport.response.address has been set to %s", responseAddress.c_str());
  if (!ReadNumberSetting(key, config::kTransportRequestPort, requestPort)) {
    trace->LogMsg(0, kAdapterComponent, "Unable to get the transport.request.port parameter");
    return 0;
  }
  trace->LogMsg(2, kAdapterComponent, "transport.request.port has been set to %d", static_cast<int>(requestPort));
  responsePort = requestPort;
  ReadNumberSetting(key, config::kTransportResponsePort, responsePort);
  trace->LogMsg(2, kAdapterComponent, "transport.response.port has been set to %d", static_cast<int>(responsePort));
  localQueueStore = config::kDefaultQueueStore;
  ReadStringSetting(key, config::kTransportLocalQueueStore, localQueueStore);
  trace->LogMsg(2, kAdapterComponent, "transport.qlink.local.queue.store has been set to %s", localQueueStore.c_str());
  remoteQueueStore = config::kDefaultQueueStore;
  ReadStringSetting(key, config::kTransportRemoteQueueStore, remoteQueueStore);
  trace->LogMsg(2, kAdapterComponent, "transport.qlink.remote.queue.store has been set to %s",
                remoteQueueStore.c_str());
  useFiller = config::kDefaultUseFiller;
  ReadStringSetting(key, config::kTransportUseFiller, useFiller);
  trace->LogMsg(2, kAdapterComponent, "transport.qlink.usefiller has been set to %s", useFiller.c_str());
  fileRegistry = kFileRegistry;
  trace->LogMsg(2, kAdapterComponent, "transport.qlink.fileregistry has been set to %s", fileRegistry.c_str());
  maxChannels = 1;
  trace->LogMsg(2, kAdapterComponent, "transport.qlink.maxchannels has been set to %d", static_cast<int>(maxChannels));
  serverQueueAddress = kServerQueueAddress;
  trace->LogMsg(2, kAdapterComponent, "transport.server.qlink.address has been set to %s",
                serverQueueAddress.c_str());
  if (!ReadNumberSetting(key, config::kTransportServerQlinkPort, serverPort)) {
    trace->LogMsg(0, kAdapterComponent, "Unable to get the transport.server.qlink.port parameter");
    return 0;
  }
  trace->LogMsg(2, kAdapterComponent, "transport.server.qlink.port has been set to %d", static_cast<int>(serverPort));
  if (!ReadStringSetting(key, config::kTransportServerAddress, serverAddress)) {
    trace->LogMsg(0, kAdapterComponent, "Unable to get the transport.server.ip.address parameter");
    return 0;
  }
  trace->LogMsg(2, kAdapterComponent, "transport.server.ip.address has been set to %s", serverAddress.c_str());
  proxyQueueAddress = host + config::kProxyQueueSuffix;
  ReadStringSetting(key, config::kTransportProxyQlinkAddress, proxyQueueAddress);
  trace->LogMsg(2, kAdapterComponent, "transport.proxy.qlink.address has been set to %s", proxyQueueAddress.c_str());
  proxyPort = static_cast<LONG>(config::kDefaultProxyPort);
  ReadNumberSetting(key, config::kTransportProxyQlinkPort, proxyPort);
  trace->LogMsg(2, kAdapterComponent, "transport.proxy.qlink.port has been set to %d", static_cast<int>(proxyPort));
  proxyAddress = host;
  ReadStringSetting(key, config::kTransportProxyAddress, proxyAddress);
  trace->LogMsg(2, kAdapterComponent, "transport.proxy.ip.address has been set to %s", proxyAddress.c_str());
  return 1;
}

std::string COrvexAdapter::GetLocalHostName() {
  char computerName[256] = {};
  DWORD size = sizeof computerName;
  GetComputerName(computerName, &size);
  std::string name = computerName;
  WSADATA sockets;
  if (WSAStartup(MAKEWORD(2, 2), &sockets) == 0) {
    if (LOBYTE(sockets.wVersion) == 2 && HIBYTE(sockets.wVersion) == 2) {
      const hostent* host = gethostbyname(computerName);
      if (host && host->h_name) name = host->h_name;
    }
    WSACleanup();
  }
  return name;
}
