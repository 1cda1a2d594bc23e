#include "agent_defaults.h"

#include <windows.h>
#include <atlbase.h>
#include <auralink/config_keys.h>
#include <auralink/guids.h>
#include <auralink/trace_utils.h>

#include <cstring>
#include <vector>
#include <auralink/platform/guid_text.h>
#include <auralink/platform/module_path.h>

namespace quillon {

namespace {

namespace config = auralink::config;

constexpr const char* kComponent = "TNG:Registration";

LSTATUS CreateKey(HKEY parent, const char* subKey, HKEY* key) {
  return RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key, nullptr);
}

// A string value's stored size counts its terminating zero.
LSTATUS SetString(HKEY key, const char* name, const char* data) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                        static_cast<DWORD>(std::strlen(data) + 1));
}

LSTATUS DeleteTree(HKEY parent, const char* subKey) { return RegDeleteTreeA(parent, subKey); }
LSTATUS DeleteKey(HKEY parent, const char* subKey) { return RegDeleteKeyA(parent, subKey); }

// One default: a value (or, without a name, only the key) below the agent key.
struct DefaultValue {
  std::string key;  // relative to the agent key; empty for the agent key itself
  const char* name;
  std::string data;
};

std::string ClassId(REFCLSID clsid) { return auralink::platform::GuidToString(clsid, false); }

// Every default in the order it is written.
std::vector<DefaultValue> AgentDefaults(const std::string& moduleFolder) {
  using config::JoinKey;
  const std::string table = JoinKey(config::kDbListeningKey, config::kPollingTablesKey, config::kManagedObjectsKey);
  const std::string onUpdate = JoinKey(table, config::kOnUpdateKey);
  const std::string tables = JoinKey(onUpdate, config::kOnUpdateTablesKey);
  const std::string conditions = JoinKey(onUpdate, config::kOnUpdateConditionsKey);
  const std::string managedObjectFields = JoinKey(tables, config::kManagedObjectTableKey, config::kOnUpdateFieldsKey);
  const std::string inclusionFields = JoinKey(tables, config::kInclusionTableKey, config::kOnUpdateFieldsKey);
  const std::string statusFields = JoinKey(tables, config::kStatusTableKey, config::kOnUpdateFieldsKey);
  const std::string instrumentation = JoinKey(config::kOrvexSettingsKey, config::kInstrumentationKey);
  auto side = [&](const char* condition, const char* tableKey) { return JoinKey(conditions, condition, tableKey); };
  const std::string condition2Side1 = side(config::kCondition2Key, config::kOnUpdateConditionTable1Key);
  const std::string condition2Side2 = side(config::kCondition2Key, config::kOnUpdateConditionTable2Key);
  const std::string condition3Side1 = side(config::kCondition3Key, config::kOnUpdateConditionTable1Key);
  const std::string condition3Side2 = side(config::kCondition3Key, config::kOnUpdateConditionTable2Key);

  return {
      {"", config::kLogFileName, auralink::platform::JoinPath(moduleFolder, std::string(config::kInstanceAgent) + config::kLogFileSuffix)},
      {"", config::kProcessingId, ClassId(CLSID_QuillonProcessing)},
      {"", config::kDiscoveryId, ClassId(CLSID_QuillonDiscovery)},
      {"", config::kListeningId, ClassId(CLSID_DunmereListening)},

      {table, config::kDatabase, config::kDefaultDatabase},
      {table, config::kPollingTabName, config::kDefaultPollingTabName},
      {table, config::kRefreshTime, config::kDefaultRefreshTime},
      {table, config::kPollingType, config::kDefaultPollingType},
      {JoinKey(table, config::kPrimaryKeyKey), config::kPrimaryKeyField1, "uuid"},
      {JoinKey(table, config::kPollForModifyKey), config::kPollModifyField1, "date_modify"},
      {JoinKey(tables, config::kManagedObjectTableKey), config::kOnUpdateTableName, "tng_managedobject"},
      // The numbering skips 5; readers go by enumeration order, not by number.
      {managedObjectFields, "onUpdField1", "name"},
      {managedObjectFields, "onUpdField2", "label"},
      {managedObjectFields, "onUpdField3", "address"},
      {managedObjectFields, "onUpdField4", "address_type"},
      {managedObjectFields, "onUpdField6", "severity"},
      {managedObjectFields, "onUpdField7", "date_ins"},
      {managedObjectFields, "onUpdField8", "class_name"},
      {managedObjectFields, "onUpdField9", "date_modify"},

      {instrumentation, config::kInstrumentationName, config::kDefaultInstrumentationName},
      {instrumentation, config::kInstrumentationSign, config::kDefaultInstrumentationSign},
      {instrumentation, config::kInstrumentationCertificate, config::kDefaultInstrumentationCertificate},
      {instrumentation, config::kInstrumentationClassesFile, auralink::platform::JoinPath(moduleFolder, config::kClassesFileName)},

      {JoinKey(tables, config::kInclusionTableKey), config::kOnUpdateTableName, "tng_inclusion"},
      {inclusionFields, "onUpdField1", "parent_class"},
      {inclusionFields, "onUpdField2", "parent_uuid"},
      {conditions, nullptr, ""},
      {JoinKey(tables, config::kStatusTableKey), config::kOnUpdateTableName, "tng_status"},
      {statusFields, "onUpdField1", "status_text"},
      // The polled table joined to the inclusion table, then to the status table, as the
      // discovery queries join them.
      {condition2Side1, config::kConditionTableName1, "tng_managedobject"},
      {JoinKey(condition2Side1, config::kOnUpdateConditionField1Key), config::kConditionFieldName1, "uuid"},
      {condition2Side2, config::kConditionTableName2, "tng_inclusion"},
      {JoinKey(condition2Side2, config::kOnUpdateConditionField2Key), config::kConditionFieldName2, "child_uuid"},
      {condition3Side1, config::kConditionTableName1, "tng_managedobject"},
      {JoinKey(condition3Side1, config::kOnUpdateConditionField1Key), config::kConditionFieldName1, "status_no"},
      {condition3Side2, config::kConditionTableName2, "tng_status"},
      {JoinKey(condition3Side2, config::kOnUpdateConditionField2Key), config::kConditionFieldName2, "status_no"},
  };
}

HRESULT Failure(LSTATUS status) { return HRESULT_FROM_WIN32(status); }

void TraceKeyFailure(const char* what, const std::string& key, LSTATUS status) {
  CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Unable to %s the key %s (error %d)", what, key.c_str(),
                                     static_cast<int>(status));
}

}  // namespace

RegistryWriteCalls& RegistryWrites() {
  static RegistryWriteCalls calls = {&CreateKey, &SetString, &DeleteTree, &DeleteKey};
  return calls;
}

std::string ModuleFolder(std::string_view modulePath) { return auralink::platform::FolderOfPath(modulePath); }

HRESULT WriteAgentDefaults(const std::string& moduleFolder) {
  const RegistryWriteCalls& calls = RegistryWrites();
  const std::string agentPath = config::AgentKey(config::kInstanceAgent);

  CRegKey root;
  if (root.Open(HKEY_LOCAL_MACHINE, config::kRootKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    HKEY created = nullptr;
    const LSTATUS status = calls.createKey(HKEY_LOCAL_MACHINE, config::kRootKey, &created);
    if (status != ERROR_SUCCESS) {
      TraceKeyFailure("create", config::kRootKey, status);
      return Failure(status);
    }
    root.Attach(created);
  }
  CRegKey agent;
  HKEY created = nullptr;
  const LSTATUS agentStatus = calls.createKey(root.m_hKey, config::kInstanceAgent, &created);
  if (agentStatus != ERROR_SUCCESS) {
    TraceKeyFailure("create", agentPath, agentStatus);
    return Failure(agentStatus);
  }
  agent.Attach(created);

  LSTATUS firstFailure = ERROR_SUCCESS;
  for (const DefaultValue& value : AgentDefaults(moduleFolder)) {
    const std::string keyPath = config::JoinKey(agentPath, value.key);
    CRegKey subkey;
    HKEY target = agent.m_hKey;
    if (!value.key.empty()) {
      HKEY opened = nullptr;
      const LSTATUS status = calls.createKey(agent.m_hKey, value.key.c_str(), &opened);
      if (status != ERROR_SUCCESS) {
        TraceKeyFailure("create", keyPath, status);
        if (firstFailure == ERROR_SUCCESS) firstFailure = status;
        continue;
      }
      subkey.Attach(opened);
      target = opened;
    }
    if (!value.name) continue;
    const LSTATUS status = calls.setString(target, value.name, value.data.c_str());
    if (status != ERROR_SUCCESS) {
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Unable to write the value %s of the key %s (error %d)",
                                         value.name, keyPath.c_str(), static_cast<int>(status));
      if (firstFailure == ERROR_SUCCESS) firstFailure = status;
    }
  }
  return firstFailure == ERROR_SUCCESS ? S_OK : Failure(firstFailure);
}

HRESULT RemoveAgentConfiguration() {
  const RegistryWriteCalls& calls = RegistryWrites();
  CRegKey root;
  if (root.Open(HKEY_LOCAL_MACHINE, config::kRootKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return S_OK;
  LSTATUS status = calls.deleteTree(root.m_hKey, config::kInstanceAgent);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    TraceKeyFailure("delete", config::AgentKey(config::kInstanceAgent), status);
    return Failure(status);
  }
  DWORD agentsLeft = 0;
  status = RegQueryInfoKeyA(root.m_hKey, nullptr, nullptr, nullptr, &agentsLeft, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS || agentsLeft != 0) return S_OK;
  root.Close();
  status = calls.deleteKey(HKEY_LOCAL_MACHINE, config::kRootKey);
  if (status != ERROR_SUCCESS) {
    TraceKeyFailure("delete", config::kRootKey, status);
    return Failure(status);
  }
  return S_OK;
}

}  // namespace quillon
