// The default configuration of the console-log agent "MarrowbyLst", written when the module
// is registered and removed when it is unregistered: the agent key with its log file and
// class identifiers, the log "TNGlog" (polled every 60 seconds, started warm with the
// filter "a", from no saved window and message number 0), and the agent's Orvex
// instrumentation settings.
#pragma once
#include <windows.h>
#include <guiddef.h>
#include <winreg.h>

#include <string>

namespace marrowby {

inline constexpr const char* kAgentDescription = "Orvex TNG Event Discovery";
inline constexpr LONG kAgentType = 3;

// The registry calls that write the defaults. Tests replace them to make one write fail
// (as root, file permissions would not stop a write).
struct RegistryWriteCalls {
  LSTATUS (*createKey)(HKEY parent, const char* subKey, HKEY* key);
  LSTATUS (*setValue)(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
};
RegistryWriteCalls& RegistryWrites();

// Writes the defaults, overwriting values already there (so LastRefresh and LastMsgNr
// start afresh). Stops at the first key or value that cannot be written, with a level 0
// trace line naming it, and answers that call's error; ERROR_SUCCESS when all is written.
// moduleDirectory holds the log file and the supported-classes file "tng.scl".
LSTATUS WriteAgentDefaults(const std::string& moduleDirectory, REFCLSID processingId, REFCLSID listeningId);

// Deletes the agent's key with everything below it, and the configuration root when no
// other agent key is left under it (the vendor key stays). Failures are not reported: a
// missing key is already removed.
void RemoveAgentDefaults();

}  // namespace marrowby
