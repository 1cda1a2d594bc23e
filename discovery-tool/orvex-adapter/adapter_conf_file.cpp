// The adapter configuration file: a properties file the Java adapter reads when it is
// created, written beside the agent's trace log and deleted once the adapter has it.
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>
#include <windows.h>

#include <cstdio>
#include <auralink/platform/module_path.h>

#include "orvex_adapter.h"
#include "orvex_settings_access.h"

namespace config = auralink::config;
using auralink::orvex::kAdapterComponent;
using auralink::orvex::ReadNumberSetting;
using auralink::orvex::ReadStringSetting;

namespace {

// Written as it stands: the properties reader turns the two escapes into a line end and
// a tab.
constexpr const char* kSoapEnvelope =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\\n\\t<SOAP-ENV:Body>";

// The folder of a file path: everything before its last separator; "." when it has none,
// so that a bare file name keeps the file in the working directory.
std::string FolderOf(const std::string& path) {
  for (char c : path)
    if (auralink::platform::IsPathSeparator(c)) return auralink::platform::FolderOfPath(path);
  return ".";
}

// The properties reader takes a backslash as an escape, so a literal one is doubled.
std::string PropertiesEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    escaped += c;
    if (c == '\\') escaped += '\\';
  }
  return escaped;
}

// "low" for 0, 1 and an unreadable level, "medium" for 2, "high" above (compared
// unsigned, so a negative level is "high" too).
const char* TraceLevelWord() {
  LONG level = 0;
  if (!ReadNumberSetting(config::kRootKey, config::kTraceLevel, level)) return "low";
  const DWORD unsignedLevel = static_cast<DWORD>(level);
  if (unsignedLevel > 2) return "high";
  return unsignedLevel == 2 ? "medium" : "low";
}

}  // namespace

int COrvexAdapter::WriteAdapterConf() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  std::string logFileName;
  if (!ReadStringSetting(config::AgentKey(agentName).c_str(), config::kLogFileName, logFileName)) {
    char program[128] = {};
    GetModuleFileName(nullptr, program, sizeof program);
    logFileName = program;
  }
  const std::string folder = FolderOf(logFileName);
  configFilePath = auralink::platform::JoinPath(folder, agentName + "Adapter.conf");

  std::FILE* file = std::fopen(configFilePath.c_str(), "w+");
  if (!file) {
    trace->LogMsg(0, kAdapterComponent, "Unable to create the configuration file %s", configFilePath.c_str());
    return 0;
  }
  const std::string workingDir = PropertiesEscaped(folder);
  const std::string traceFile = "Adapter_" + agentName + ".log";
  const char* level = TraceLevelWord();

  std::fprintf(file, "  %s = LocalAdapter\n\n", "adapter.type");
  std::fprintf(file, "# ADAPTER WORKING DIRECTORY\n");
  std::fprintf(file, "#   This is the directory where the Adapter will write its files\n");
  std::fprintf(file, "#   The default value is:  adapter.working.dir  = .\n\n");
  std::fprintf(file, "  %s = %s\n", "adapter.working.dir", workingDir.c_str());
  std::fprintf(file, "  %s = %s\n\n", "soap.envelope", kSoapEnvelope);
  std::fprintf(file, "# LOGGING MODE PROPERTIES\n\n");
  std::fprintf(file, "  %s = %s\n", "loggingmode.default", loggingMode ? "true" : "false");
  std::fprintf(file, "  %s = %s\n\n", "loggingmode.filename", loggingModeFile.c_str());
  std::fprintf(file, "# TRACE PROPERTIES:\n");
  std::fprintf(file, "#   The file for the trace output\n\n");
  std::fprintf(file, "  %s = %s\n\n", "trace.filename", traceFile.c_str());
  std::fprintf(file, "#   This key is set true if the logger is enabled (on) or false if\n");
  std::fprintf(file, "#   the logger is disabled (off).\n\n");
  std::fprintf(file, "  %s = true\n", "adapter.trace.enable");
  std::fprintf(file, "  %s = true\n\n", "transport.trace.enable");
  std::fprintf(file, "#   This key can be low, medium or high:\n");
  std::fprintf(file, "#      low    = errors, exceptions and warnings\n");
  std::fprintf(file, "#      medium = low plus info and object creation\n");
  std::fprintf(file, "#      high   = methods entry/exit\n\n");
  std::fprintf(file, "  %s = %s\n", "adapter.trace.level", level);
  std::fprintf(file, "  %s = %s\n\n", "transport.trace.level", level);
  std::fprintf(file, "# VALIDATING PROPERTY:\n");
  std::fprintf(file, "#   This key is set true if the xml validation is enabled (on)\n\n");
  std::fprintf(file, "  %s = %s\n\n", "adapter.xml.validation", xmlValidation.c_str());
  std::fprintf(file, "# transport base properties\n\n");
  std::fprintf(file, "  %s = %s\n", "transport.class.name", transportClassName.c_str());
  std::fprintf(file, "  %s = %s\n", "transport.local.ip.address", localAddress.c_str());
  std::fprintf(file, "  %s = %s\n", "transport.request.address", requestAddress.c_str());
  std::fprintf(file, "  %s = %d\n", "transport.request.port", static_cast<int>(requestPort));
  std::fprintf(file, "  %s = %s\n", "transport.response.address", responseAddress.c_str());
  std::fprintf(file, "  %s = %d\n\n", "transport.response.port", static_cast<int>(responsePort));
  std::fprintf(file, "# Qlink transport properties\n\n");
  std::fprintf(file, "# queue store: this key can be file or memory\n\n");
  std::fprintf(file, "  %s = %s\n", "transport.qlink.local.queue.store", localQueueStore.c_str());
  std::fprintf(file, "  %s = %s\n", "transport.qlink.remote.queue.store", remoteQueueStore.c_str());
  std::fprintf(file, "  %s = %s\n", "transport.qlink.usefiller", useFiller.c_str());
  std::fprintf(file, "  %s = %s\n", "transport.qlink.fileregistry", fileRegistry.c_str());
  std::fprintf(file, "  %s = %d\n\n", "transport.qlink.maxchannels", static_cast<int>(maxChannels));
  std::fprintf(file, "# only for client\n\n");
  std::fprintf(file, "# server\n");
  std::fprintf(file, "  %s = %s\n", "transport.server.qlink.address", serverQueueAddress.c_str());
  std::fprintf(file, "  %s = %d\n", "transport.server.qlink.port", static_cast<int>(serverPort));
  std::fprintf(file, "  %s = %s\n\n", "transport.server.ip.address", serverAddress.c_str());
  std::fprintf(file, "# proxy\n");
  std::fprintf(file, "  %s = %s\n", "transport.proxy.qlink.address", proxyQueueAddress.c_str());
  std::fprintf(file, "  %s = %d\n", "transport.proxy.qlink.port", static_cast<int>(proxyPort));
  std::fprintf(file, "  %s = %s\n\n", "transport.proxy.ip.address", proxyAddress.c_str());

  // A file cut short would reach the Java adapter as settings it never had.
  const bool written = std::fflush(file) == 0 && !std::ferror(file);
  if (std::fclose(file) != 0 || !written) {
    trace->LogMsg(0, kAdapterComponent, "Unable to write the configuration file %s", configFilePath.c_str());
    return 0;
  }
  trace->LogMsg(1, kAdapterComponent, "Generated configuration file %s for Orvex Adapter", configFilePath.c_str());
  return 1;
}
