// CDiscoverer: one discovery run of an agent. It asks the hub facade for the agent's
// instance identifiers (all, one class's, or the one given), fetches each instance and
// hands it to its Orvex adapter bridge, between one begin and one commit of a discovery.
//
// Protocol (the entry point calls each once, in this order):
//   ParseCommandLine(argc, argv, 1) -> 1 valid, 0 invalid;
//   Initialize(agent, listName)     -> 1 when the hub is created and the adapter registered;
//   Discover()                      -> 1 when a discovery ran and Orvex committed it;
//   Terminate()                     -> releases the hub and unregisters the adapter.
// Progress goes to standard output, details to the trace (component "Discoverer").
// Single-threaded; COM must be initialised on the calling thread.
#pragma once
#include <auralink/interfaces.h>

#include <string>

#include "orvex_adapter.h"

class CDiscoverer {
 public:
  CDiscoverer() = default;
  virtual ~CDiscoverer() = default;  // neither releases the hub nor stops the Java VM
  CDiscoverer(const CDiscoverer&) = delete;
  CDiscoverer& operator=(const CDiscoverer&) = delete;

  int ParseCommandLine(int argumentCount, char** arguments, int firstIndex);
  int Initialize(std::string agent, std::string list);
  int Discover();
  int Terminate();

  // What the command line chose, for the entry point and for tests.
  int SlowingTime() const { return slowingTime; }
  int LoggingMode() const { return loggingMode; }
  const std::string& LoggingModeFile() const { return loggingModeFile; }
  const std::string& InstanceId() const { return instanceId; }
  const std::string& ClassName() const { return className; }
  int Verbose() const { return verbose; }

 private:
  IHub* hub = nullptr;
  std::string listName;
  std::string agentName;
  int slowingTime = 100;
  int loggingMode = 0;
  std::string loggingModeFile;
  std::string instanceId;
  std::string className;
  int verbose = 0;
  COrvexAdapter adapter;
};
