// The object tree of an event agent: the network of the local host, the host, and the
// element that manages the agent's events, linked network <- host <- manager (each link
// from a child to its parent). Orvex needs these objects before events can refer to them.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

// Builds the tree's three instances and two links in the agent's Orvex terms (each object
// passes through CRemapper::Remap with the source classes "Network", "Host" and
// "SoftwareElement") and returns them in new payload arrays: operations 1, 1, 1, 4, 4 and
// their XML streams, network, host, manager, host link, manager link.
//  - subnetMask: masks the host's address into the network's; empty takes the class A, B
//    or C mask of the address. A text IsValidSubnetMask refuses fails the call.
//  - managerName: the name of the manager element.
//  - objectId: the manager element's identifier; when empty it is made as
//    managerName + "@" + the host name and written back, so that later events of the
//    caller can point at the element.
// Nonzero on success; 0 (one trace line, outputs untouched) when the local host or its
// address cannot be found, the mask is invalid, the agent's remapper refuses an object or
// memory runs out.
int BuildObjectTree(const std::string& agentName, const std::string& subnetMask, const std::string& managerName,
                    std::string& objectId, LONG* lInstOpCount, SAFEARRAY** ppInstOpArray, LONG* lObjectCount,
                    SAFEARRAY** ppObjArray);
