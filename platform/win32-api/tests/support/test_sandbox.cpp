#include "test_sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace auralink::testing {

namespace {
void Restore(const char* name, bool had, const std::string& value) {
  if (had)
    setenv(name, value.c_str(), 1);
  else
    unsetenv(name);
}
}  // namespace

TestSandbox::TestSandbox() {
  std::string pattern = (std::filesystem::temp_directory_path() / "auralink-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  dir_ = pattern;
  registry_ = Path("registry.reg");
  trace_ = Path("trace.log");
  if (const char* r = std::getenv("AURALINK_REGISTRY")) hadRegistry_ = true, savedRegistry_ = r;
  if (const char* o = std::getenv("ODBCINI")) hadOdbcIni_ = true, savedOdbcIni_ = o;
  if (const char* s = std::getenv("ODBCSYSINI")) hadOdbcSysIni_ = true, savedOdbcSysIni_ = s;
  setenv("AURALINK_REGISTRY", registry_.c_str(), 1);
  setenv("ODBCINI", Path("odbc.ini").c_str(), 1);
  setenv("ODBCSYSINI", dir_.c_str(), 1);  // keeps /etc/odbc.ini and odbcinst.ini out of the test
}

TestSandbox::~TestSandbox() {
  Restore("AURALINK_REGISTRY", hadRegistry_, savedRegistry_);
  Restore("ODBCINI", hadOdbcIni_, savedOdbcIni_);
  Restore("ODBCSYSINI", hadOdbcSysIni_, savedOdbcSysIni_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

bool TestSandbox::ProcessRunningWith(const std::string& text) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    // An ended child that is not reaped yet has an empty command line.
    std::string commandLine = ReadFile(entry.path().string() + "/cmdline");
    for (char& c : commandLine) c = c == '\0' ? ' ' : c;
    if (commandLine.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string TestSandbox::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void TestSandbox::WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string TestSandbox::BuildDir() {
  const char* d = std::getenv("AURALINK_BUILD_DIR");
  return d ? d : AURALINK_TREE_BUILD_DIR;
}

std::string TestSandbox::SourceDir() {
  const char* d = std::getenv("AURALINK_SOURCE_DIR");
  return d ? d : AURALINK_TREE_SOURCE_DIR;
}

}  // namespace auralink::testing
