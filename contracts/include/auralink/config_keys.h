// The configuration tree under HKEY_LOCAL_MACHINE: every key path, value name and default
// in one place. Readers, writers and registration all take their names from here;
// docs/configuration.md tells who writes and who reads each value.
//
// Key paths are relative to HKEY_LOCAL_MACHINE and joined with "\". The builders below
// give the full path of each key for an agent.
#pragma once
#include <windows.h>
#include <windef.h>

#include <string>
#include <string_view>

namespace auralink::config {

// ---- Keys -------------------------------------------------------------------------
inline constexpr const char* kVendorKey = "SOFTWARE\\Kestrova";
inline constexpr const char* kRootKey = "SOFTWARE\\Kestrova\\Auralink";
// Below the root: one key per agent.
inline constexpr const char* kInstanceAgent = "QuillonLst";
inline constexpr const char* kEventAgent = "MarrowbyLst";
// Below an agent key.
inline constexpr const char* kOrvexSettingsKey = "OrvexSettings";
inline constexpr const char* kInstrumentationKey = "Instrumentation";  // below OrvexSettings
inline constexpr const char* kAdapterKey = "Adapter";                  // below OrvexSettings
inline constexpr const char* kEventListeningKey = "EventListening";
inline constexpr const char* kEventLogsKey = "EventLogs";  // below EventListening
inline constexpr const char* kTngLogKey = "TNGlog";        // the registered console log
inline constexpr const char* kDbListeningKey = "DBListening";
inline constexpr const char* kPollingTablesKey = "PollingTables";  // below DBListening
inline constexpr const char* kManagedObjectsKey = "ManagedObjects";  // the registered table entry
// Below a table entry.
inline constexpr const char* kPrimaryKeyKey = "PrimaryKey";        // list
inline constexpr const char* kPollForModifyKey = "PollForModify";  // list
inline constexpr const char* kOnUpdateKey = "OnUpdate";
inline constexpr const char* kOnUpdateTablesKey = "OnUpdateTables";          // below OnUpdate
inline constexpr const char* kOnUpdateConditionsKey = "OnUpdateConditions";  // below OnUpdate
inline constexpr const char* kOnUpdateFieldsKey = "OnUpdateFields";          // list, below an update table
inline constexpr const char* kOnUpdateConditionTable1Key = "OnUpdateConditionTable1";  // below a condition
inline constexpr const char* kOnUpdateConditionTable2Key = "OnUpdateConditionTable2";
inline constexpr const char* kOnUpdateConditionField1Key = "OnUpdateConditionField1";  // list, below side 1
inline constexpr const char* kOnUpdateConditionField2Key = "OnUpdateConditionField2";  // list, below side 2

// ---- Values of the root key (numbers) ------------------------------------------------
inline constexpr const char* kTraceLevel = "TraceLevel";
inline constexpr const char* kMaxFileLogSize = "MaxFileLogSize";
inline constexpr LONG kDefaultTraceLevel = -1;      // everything
inline constexpr LONG kDefaultMaxFileLogSize = -1;  // no limit

// ---- Values of an agent key (strings) ------------------------------------------------
inline constexpr const char* kLogFileName = "LogFileName";    // module folder\agent.log
inline constexpr const char* kProcessingId = "ProcessingID";  // CLSID, registry form without braces
inline constexpr const char* kDiscoveryId = "DiscoveryID";    // instance agent only
inline constexpr const char* kListeningId = "ListeningID";
inline constexpr const char* kLogFileSuffix = ".log";

// ---- OrvexSettings\Instrumentation (strings, written at registration) ----------------
inline constexpr const char* kInstrumentationName = "instrumentation.name";
inline constexpr const char* kInstrumentationSign = "instrumentation.authenticate.sign";
inline constexpr const char* kInstrumentationCertificate = "instrumentation.authenticate.certificate";
inline constexpr const char* kInstrumentationClassesFile = "instrumentation.classes.filename";
inline constexpr const char* kDefaultInstrumentationName = "TNG INSTRUMENTATION";
inline constexpr const char* kDefaultInstrumentationSign = "KWZmark";
inline constexpr const char* kDefaultInstrumentationCertificate = "KWZattestation";
inline constexpr const char* kClassesFileName = "tng.scl";  // in the module folder

// ---- OrvexSettings\Adapter -----------------------------------------------------------
inline constexpr const char* kLoggingModeDefault = "loggingmode.default";  // "true"/"false"
inline constexpr const char* kLoggingModeFileName = "loggingmode.filename";
inline constexpr const char* kAdapterXmlValidation = "adapter.xml.validation";
inline constexpr const char* kTransportLocalAddress = "transport.local.ip.address";
inline constexpr const char* kTransportRequestPort = "transport.request.port";            // number
inline constexpr const char* kTransportResponsePort = "transport.response.port";          // number
inline constexpr const char* kTransportServerQlinkPort = "transport.server.qlink.port";   // number
inline constexpr const char* kTransportServerAddress = "transport.server.ip.address";
inline constexpr const char* kTransportLocalQueueStore = "transport.qlink.local.queue.store";    // "file"/"memory"
inline constexpr const char* kTransportRemoteQueueStore = "transport.qlink.remote.queue.store";  // "file"/"memory"
inline constexpr const char* kTransportUseFiller = "transport.qlink.usefiller";
inline constexpr const char* kTransportProxyQlinkAddress = "transport.proxy.qlink.address";
inline constexpr const char* kTransportProxyQlinkPort = "transport.proxy.qlink.port";  // number
inline constexpr const char* kTransportProxyAddress = "transport.proxy.ip.address";
// Defaults the readers apply when a value is absent.
inline constexpr const char* kDefaultLoggingMode = "false";
inline constexpr const char* kLoggingModeFileSuffix = "_LoggingModeFile.log";  // after the agent name
inline constexpr const char* kDefaultXmlValidation = "false";
inline constexpr const char* kDefaultQueueStore = "file";
inline constexpr const char* kDefaultUseFiller = "false";
inline constexpr const char* kProxyQueueSuffix = "ProxyQM+ProxyQ";  // after the local host name
inline constexpr DWORD kDefaultProxyPort = 0;

// ---- EventListening (event agent) ----------------------------------------------------
inline constexpr const char* kSubnetMask = "SubnetMask";  // string, written by the setup tool only
// EventListening\EventLogs\<log>
inline constexpr const char* kRefreshTime = "RefreshTime";  // string, decimal seconds (also for tables)
inline constexpr const char* kLastRefresh = "LastRefresh";  // string, seconds since 1970 UTC, or ""
inline constexpr const char* kStartMode = "StartMode";      // "cold"/"warm"
inline constexpr const char* kMsgFilter = "MsgFilter";      // "a"/"d"
inline constexpr const char* kLastMsgNr = "LastMsgNr";      // number
inline constexpr const char* kDefaultRefreshTime = "60";
inline constexpr const char* kDefaultLastRefresh = "";
inline constexpr const char* kDefaultStartMode = "warm";
inline constexpr const char* kDefaultMsgFilter = "a";
inline constexpr DWORD kDefaultLastMsgNr = 0;

// ---- DBListening\PollingTables\<table entry> (instance agent) ------------------------
inline constexpr const char* kDatabase = "Database";              // ODBC data source, required
inline constexpr const char* kPollingTabName = "PollingTabName";  // required
inline constexpr const char* kPollingType = "PollingType";        // optional
inline constexpr const char* kDefaultPollingType = "Instances";
// Below OnUpdateTables\<any name>.
inline constexpr const char* kOnUpdateTableName = "OnUpdateTableName";
// Below OnUpdateConditions\<any name>\OnUpdateConditionTable1 and ...Table2.
inline constexpr const char* kConditionTableName1 = "ConditionTableName1";
inline constexpr const char* kConditionTableName2 = "ConditionTableName2";
// The registered table entry's defaults.
inline constexpr const char* kDefaultDatabase = "VAZUV";
inline constexpr const char* kDefaultPollingTabName = "tng_managedobject";
// Free names the registration gives the registered entry's subkeys and list values
// (readers take whatever names they find, in enumeration order).
inline constexpr const char* kManagedObjectTableKey = "ManagedObjectTable";
inline constexpr const char* kInclusionTableKey = "InclusionTable";
inline constexpr const char* kStatusTableKey = "StatusTable";
inline constexpr const char* kCondition2Key = "Condition2";
inline constexpr const char* kCondition3Key = "Condition3";
inline constexpr const char* kPrimaryKeyField1 = "pkField1";
inline constexpr const char* kPollModifyField1 = "pollModifyField1";
inline constexpr const char* kOnUpdateFieldPrefix = "onUpdField";  // followed by 1 ... 9
inline constexpr const char* kConditionFieldName1 = "ConditionFieldName1";
inline constexpr const char* kConditionFieldName2 = "ConditionFieldName2";

// ---- Key path builders ---------------------------------------------------------------
// "a\b": joins two key path components.
inline std::string JoinKey(std::string_view parent, std::string_view child) {
  std::string path(parent);
  if (!path.empty() && !child.empty()) path += '\\';
  path += child;
  return path;
}
template <typename... More>
std::string JoinKey(std::string_view parent, std::string_view child, More... more) {
  return JoinKey(JoinKey(parent, child), more...);
}

inline std::string AgentKey(std::string_view agent) { return JoinKey(kRootKey, agent); }
inline std::string OrvexSettingsKey(std::string_view agent) { return JoinKey(AgentKey(agent), kOrvexSettingsKey); }
inline std::string InstrumentationKey(std::string_view agent) {
  return JoinKey(OrvexSettingsKey(agent), kInstrumentationKey);
}
inline std::string AdapterKey(std::string_view agent) { return JoinKey(OrvexSettingsKey(agent), kAdapterKey); }
inline std::string EventListeningKey(std::string_view agent) { return JoinKey(AgentKey(agent), kEventListeningKey); }
inline std::string EventLogsKey(std::string_view agent) { return JoinKey(EventListeningKey(agent), kEventLogsKey); }
inline std::string EventLogKey(std::string_view agent, std::string_view log) {
  return JoinKey(EventLogsKey(agent), log);
}
inline std::string PollingTablesKey(std::string_view agent) {
  return JoinKey(AgentKey(agent), kDbListeningKey, kPollingTablesKey);
}
inline std::string PollingTableKey(std::string_view agent, std::string_view table) {
  return JoinKey(PollingTablesKey(agent), table);
}

}  // namespace auralink::config
