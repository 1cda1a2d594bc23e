// What the hub tests share: a sandbox with COM initialised and a trace file, the stand-in
// agent server registered into the sandbox registry, agent keys naming its classes, and
// the server's journal.
#pragma once
#include <test_sandbox.h>
#include <windows.h>
#include <objbase.h>

#include <string>

#include "fake_agent_classes.h"

namespace auralink::testing {

class HubSandbox {
 public:
  // COM on the calling thread: the multithreaded apartment, or a single-threaded one
  // (COINIT_APARTMENTTHREADED) for tests that call the apartment-threaded classes directly.
  explicit HubSandbox(DWORD apartment = COINIT_MULTITHREADED);
  ~HubSandbox();
  HubSandbox(const HubSandbox&) = delete;
  HubSandbox& operator=(const HubSandbox&) = delete;

  // Writes the agent's "DiscoveryID" and "ListeningID" (CLSIDs without braces); a null
  // text leaves the value out.
  void WriteAgent(const std::string& agent, const char* discoveryId, const char* listeningId);
  // The same with the stand-in server's classes.
  void WriteFakeAgent(const std::string& agent);

  std::string Journal() const;
  std::string Trace() const;
  // How often `line` appears as a whole line of the journal.
  int JournalCount(const std::string& line) const;

  static std::string FakeDiscoveryId();
  static std::string FakeListeningId();

 private:
  TestSandbox sandbox_;
  FakeAgentJournalFunction journal_ = nullptr;
  bool comInitialised_ = false;
};

// Waits up to five seconds for `condition`; true when it came.
template <typename Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

}  // namespace auralink::testing
