// The default configuration of the instance agent "QuillonLst", written when the Quillon
// module is registered and removed when it is unregistered.
//
// Every value is written in a fixed order, whatever failed before it; a failure is traced
// with the key and value it concerns, and the first one decides the result. Nothing that
// was written is taken back. The registry calls that change the file go through
// RegistryWrites(), so that tests can make any one of them fail (as root, file modes do
// not stop a write).
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace quillon {

inline constexpr const char* kAgentDescription = "Orvex TNG Object Discovery";
// What the agent registration records as the agent's type.
inline constexpr LONG kAgentType = 3;

struct RegistryWriteCalls {
  LSTATUS (*createKey)(HKEY parent, const char* subKey, HKEY* key);
  LSTATUS (*setString)(HKEY key, const char* name, const char* data);
  LSTATUS (*deleteTree)(HKEY parent, const char* subKey);
  LSTATUS (*deleteKey)(HKEY parent, const char* subKey);
};
// The calls in use; the registry functions unless a test replaced them.
RegistryWriteCalls& RegistryWrites();

// The folder of a module file: its path up to, not including, the last "/".
std::string ModuleFolder(std::string_view modulePath);

// Writes the agent key and all its defaults for a module lying in `moduleFolder`
// (log file and supported-classes file beside it). S_OK, or the HRESULT of the first
// registry error.
HRESULT WriteAgentDefaults(const std::string& moduleFolder);

// Deletes the agent key with everything below it, then the product key when no agent key
// is left under it. S_OK also when there was nothing to delete; otherwise the HRESULT of
// the registry error.
HRESULT RemoveAgentConfiguration();

}  // namespace quillon
