// Creating an agent's classes: the agent key holds each class's CLSID ("ListeningID",
// "DiscoveryID", "ProcessingID") in registry string form without braces.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <string>

namespace auralink {

// Creates the in-process class named by `valueName` of the agent's key and asks it for
// `iid`; the caller owns the one reference returned. Null, after a level 0 trace line of
// `component` naming the agent and the cause, when the key, the value or the class is
// missing or the class refuses the interface.
void* CreateAgentClass(const char* component, const std::string& agentName, const char* valueName, REFIID iid);

template <typename Interface>
Interface* CreateAgentClass(const char* component, const std::string& agentName, const char* valueName) {
  return static_cast<Interface*>(CreateAgentClass(component, agentName, valueName, __uuidof(Interface)));
}

}  // namespace auralink
