// Creating an agent's classes: the agent key holds each class's CLSID ("ListeningID",
// "DiscoveryID") in registry string form without braces.
#pragma once
#include <unknwn.h>

#include <string>

#include "com_release.h"

namespace auralink::hub {

// Creates the in-process class named by `valueName` of the agent's key and asks it for
// `iid`. Null, after a level 0 trace line of `component` naming the agent and the cause,
// when the key, the value or the class is missing or the class refuses the interface.
void* CreateAgentClass(const char* component, const std::string& agentName, const char* valueName, REFIID iid);

template <typename Interface>
ComHolder<Interface> CreateAgentClass(const char* component, const std::string& agentName, const char* valueName) {
  return ComHolder<Interface>(
      static_cast<Interface*>(CreateAgentClass(component, agentName, valueName, __uuidof(Interface))));
}

}  // namespace auralink::hub
