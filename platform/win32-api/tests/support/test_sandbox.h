// A private corner of the file system for one test: its own temporary folder, registry
// file (AURALINK_REGISTRY), trace file and ODBC configuration (ODBCINI, ODBCSYSINI), removed again
// when the sandbox goes. Tests never touch the machine's real configuration.
#pragma once
#include <string>

namespace auralink::testing {

class TestSandbox {
 public:
  TestSandbox();
  ~TestSandbox();
  TestSandbox(const TestSandbox&) = delete;
  TestSandbox& operator=(const TestSandbox&) = delete;

  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& RegistryFile() const { return registry_; }
  const std::string& TraceFile() const { return trace_; }

  static std::string ReadFile(const std::string& path);
  static void WriteFile(const std::string& path, const std::string& text);
  // Whether a live process's command line holds `text` (a file of the sandbox, say).
  static bool ProcessRunningWith(const std::string& text);
  // The build and source trees this test was built in (AURALINK_BUILD_DIR and
  // AURALINK_SOURCE_DIR override them).
  static std::string BuildDir();
  static std::string SourceDir();

 private:
  std::string dir_;
  std::string registry_;
  std::string trace_;
  std::string savedRegistry_;
  std::string savedOdbcIni_;
  bool hadRegistry_ = false;
  bool hadOdbcIni_ = false;
  std::string savedOdbcSysIni_;
  bool hadOdbcSysIni_ = false;
};

}  // namespace auralink::testing
