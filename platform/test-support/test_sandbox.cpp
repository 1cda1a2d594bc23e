#include "test_sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sandbox_system.h"

namespace auralink::testing {

TestSandbox::TestSandbox() {
  dir_ = MakeTemporaryFolder();
  registry_ = Path("registry.reg");
  trace_ = Path("trace.log");
  Set(savedRegistry_, registry_);
  Set(savedOdbcIni_, Path("odbc.ini"));
  Set(savedOdbcSysIni_, dir_);  // keeps the machine's odbc.ini and odbcinst.ini out of the test
  registryRedirect_ = std::make_unique<RegistryRedirect>(std::filesystem::path(dir_).filename().string());
}

TestSandbox::~TestSandbox() {
  registryRedirect_.reset();
  for (SavedVariable* saved : {&savedRegistry_, &savedOdbcIni_, &savedOdbcSysIni_})
    SetProcessVariable(saved->name, saved->had ? saved->value.c_str() : nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void TestSandbox::Set(SavedVariable& saved, const std::string& value) {
  if (const char* old = std::getenv(saved.name)) saved.had = true, saved.value = old;
  SetProcessVariable(saved.name, value.c_str());
}

void TestSandbox::SetVariable(const char* name, const char* value) { SetProcessVariable(name, value); }

bool TestSandbox::ProcessRunningWith(const std::string& text) { return AnyProcessCommandLineHolds(text); }

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
