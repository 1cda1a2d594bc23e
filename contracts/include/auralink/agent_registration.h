// Records the agents that the source servers register. The record lies outside the
// configuration tree, under HKEY_LOCAL_MACHINE\SOFTWARE\Kestrova\AgentRegistry\<agent>,
// holding "Description" and "Text" (strings) and "Type" (number), so that the tree's
// root still disappears with its last agent key.
#pragma once
#include <windows.h>
#include <windef.h>

namespace auralink {
inline constexpr const char* kAgentRegistryKey = "SOFTWARE\\Kestrova\\AgentRegistry";
inline constexpr const char* kAgentDescriptionValue = "Description";
inline constexpr const char* kAgentTextValue = "Text";
inline constexpr const char* kAgentTypeValue = "Type";
}  // namespace auralink

// Writes (or rewrites) the agent's record. Nonzero on success; 0 for an empty agent name
// or when the record cannot be written.
int RegisterAgent(const char* agentName, const char* description, const char* text, LONG type);
// Removes the agent's record, and the AgentRegistry key once it is empty. Nonzero on
// success, also when no record exists; 0 when the record names another description (the
// agent name belongs to another product) or cannot be removed.
int UnregisterAgent(const char* agentName, const char* description);
