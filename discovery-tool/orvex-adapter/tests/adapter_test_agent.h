// An agent set up the way COrvexAdapter finds it after registration and zeltsetup: its
// trace log (and so the adapter configuration file) in a folder of the test's own, an
// instrumentation identity with a supported-classes file, the transport settings, and
// the scripted processing class as its ProcessingID.
#pragma once
#include <string>

namespace orvex::testing {

// The supported-classes file the agent is given: four source classes that become three
// Orvex classes, and two link types.
inline constexpr const char* kClassesFile =
    "class IpNetwork Network\n"
    "class IpSubnet Subnet\n"
    "class WindowsServer ComputerSystem\n"
    "class UnixServer ComputerSystem\n"
    "link IpSubnet IpNetwork PartOf\n"
    "link WindowsServer IpSubnet MemberOf\n"
    "link UnixServer IpSubnet MemberOf\n";

inline constexpr unsigned kRequestPort = 4100;
inline constexpr unsigned kServerPort = 4200;
inline constexpr const char* kServerAddress = "orvex.example";

// Writes every value the adapter reads for `agent` into the current registry file.
void WriteAgentSettings(const std::string& agent, const std::string& folder);
// Registers the scripted processing module and names it as the agent's ProcessingID.
void UseScriptedProcessing(const std::string& agent);
void RemoveSetting(const std::string& keyPath, const char* name);

}  // namespace orvex::testing
