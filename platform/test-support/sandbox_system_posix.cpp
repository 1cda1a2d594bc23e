#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sandbox_system.h"

namespace auralink::testing {

std::string MakeTemporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "auralink-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  return pattern;
}

void SetProcessVariable(const char* name, const char* value) {
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

bool AnyProcessCommandLineHolds(const std::string& text) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    // An ended child that is not reaped yet has an empty command line.
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::ostringstream read;
    read << in.rdbuf();
    std::string commandLine = read.str();
    for (char& c : commandLine) c = c == '\0' ? ' ' : c;
    if (commandLine.find(text) != std::string::npos) return true;
  }
  return false;
}

// The registry file named by AURALINK_REGISTRY is the sandbox's already.
RegistryRedirect::RegistryRedirect(const std::string&) {}
RegistryRedirect::~RegistryRedirect() = default;

}  // namespace auralink::testing
