// The object tree for a given local host; BuildObjectTree supplies the real one.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "model/local_host.h"

namespace auralink::model {

// Source classes of the tree's objects, translated by the agent's supported classes.
inline constexpr const char* kNetworkClass = "Network";
inline constexpr const char* kHostClass = "Host";
inline constexpr const char* kManagerClass = "SoftwareElement";

int BuildObjectTreeOf(const LocalHost& host, const std::string& agentName, const std::string& subnetMask,
                      const std::string& managerName, std::string& objectId, LONG* lInstOpCount,
                      SAFEARRAY** ppInstOpArray, LONG* lObjectCount, SAFEARRAY** ppObjArray);

}  // namespace auralink::model
