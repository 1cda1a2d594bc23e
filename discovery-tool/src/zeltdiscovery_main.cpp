// zeltdiscovery: one discovery run of the instance agent "QuillonLst", from the
// repository through the hub facade to Orvex. Exit status 0 when the run completed
// (single objects may have failed: ZLT0002E, ZLT0003E), 1 when it could not start or go
// on (ZLT0001E, ZLT0004E) or the command line is invalid.
#include <auralink/agent_trace.h>
#include <auralink/trace_utils.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "discoverer.h"

#ifndef RPC_C_AUTHN_LEVEL_CONNECT
#define RPC_C_AUTHN_LEVEL_CONNECT 2
#endif

namespace {

constexpr const char* kAgent = "QuillonLst";
constexpr const char* kComponent = "Discoverer";

void PrintUsage() {
  std::fputs("\nUsage: zeltdiscovery [-ps (maximum | normal | minimum)]\n", stdout);
  std::fputs("                     [-log [-lf <logfilename>]]\n", stdout);
  std::fputs("                     [-verbose]\n\n", stdout);
  std::fputs("       zeltdiscovery -c <classname>\n", stdout);
  std::fputs("                     [-ps (maximum | normal | minimum)]\n", stdout);
  std::fputs("                     [-log [-lf <logfilename>]]\n", stdout);
  std::fputs("                     [-verbose]\n\n", stdout);
  std::fputs("       zeltdiscovery -id <instanceId>\n", stdout);
  std::fputs("                     [-log [-lf <logfilename>]]\n", stdout);
  std::fputs("                     [-verbose]\n\n", stdout);
  std::fputs("       zeltdiscovery -h\n\n", stdout);
  std::fflush(stdout);
}

int Fail(const char* message) {
  std::fputs(message, stdout);
  std::fflush(stdout);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CDiscoverer discoverer;
  std::string first = argc > 1 && argv[1] ? argv[1] : "";
  std::transform(first.begin(), first.end(), first.begin(), [](unsigned char c) { return std::tolower(c); });
  if (first == "-h") {
    PrintUsage();
    return 0;
  }

  const std::string agentName = kAgent;
  const std::string listName = kAgent;
  StartAgentTrace(agentName);
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "The discovery won't started because CoInitializeEx failed");
    return Fail("ZLT0001E - Discovery process initialization failed\n");
  }
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                       EOAC_NONE, nullptr);
  if (!discoverer.ParseCommandLine(argc, argv, 1)) {
    PrintUsage();
    return 1;
  }
  std::fputs("Initializing discovery process\n", stdout);
  std::fflush(stdout);
  // COM and the Java VM are left to the end of the process, on every exit.
  if (!discoverer.Initialize(agentName, listName)) return Fail("ZLT0001E - Discovery process initialization failed\n");
  if (!discoverer.Discover()) return Fail("ZLT0004E - Discovery process failed\n");
  discoverer.Terminate();
  std::fputs("Discovery successfully completed!\n", stdout);
  std::fflush(stdout);
  return 0;
}
