// What the test sandbox needs of the operating system, one implementation for each:
// sandbox_system_posix.cpp and sandbox_system_windows.cpp.
#pragma once
#include <string>

namespace auralink::testing {

// A new, empty folder under the system's temporary folder.
std::string MakeTemporaryFolder();
// Sets (value not null) or removes an environment variable of this process.
void SetProcessVariable(const char* name, const char* value);
bool AnyProcessCommandLineHolds(const std::string& text);

// While it lives, this process's registry writes stay in the sandbox (see test_sandbox.h).
class RegistryRedirect {
 public:
  explicit RegistryRedirect(const std::string& sandboxName);
  ~RegistryRedirect();
  RegistryRedirect(const RegistryRedirect&) = delete;
  RegistryRedirect& operator=(const RegistryRedirect&) = delete;

 private:
  std::string keyPath_;
};

}  // namespace auralink::testing
