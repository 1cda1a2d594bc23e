// A private corner of the system for one test: its own temporary folder, registry, trace
// file and ODBC configuration (ODBCINI, ODBCSYSINI), removed again when the sandbox goes.
// Tests never touch the machine's real configuration.
//
// The registry: on Linux the platform keeps it in a file (AURALINK_REGISTRY, RegistryFile());
// on Windows HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are redirected into a key of the
// sandbox's own (RegOverridePredefKey) for this process. HKEY_CLASSES_ROOT is not
// redirected there: COM reads classes from the machine's registry only, so tests that
// register and create classes do so in the test run's throwaway Wine prefix.
#pragma once
#include <memory>
#include <string>

namespace auralink::testing {

class RegistryRedirect;

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
  // Sets an environment variable of this process (and of the children it starts); a null
  // value removes it.
  static void SetVariable(const char* name, const char* value);
  // Whether a live process's command line holds `text` (a file of the sandbox, say).
  static bool ProcessRunningWith(const std::string& text);
  // The build and source trees this test was built in (AURALINK_BUILD_DIR and
  // AURALINK_SOURCE_DIR override them).
  static std::string BuildDir();
  static std::string SourceDir();

 private:
  // A variable's value before the sandbox set it, put back when it goes.
  struct SavedVariable {
    explicit SavedVariable(const char* variable) : name(variable) {}
    const char* name;
    bool had = false;
    std::string value;
  };
  void Set(SavedVariable& saved, const std::string& value);

  std::string dir_;
  std::string registry_;
  std::string trace_;
  SavedVariable savedRegistry_{"AURALINK_REGISTRY"};
  SavedVariable savedOdbcIni_{"ODBCINI"};
  SavedVariable savedOdbcSysIni_{"ODBCSYSINI"};
  std::unique_ptr<RegistryRedirect> registryRedirect_;
};

}  // namespace auralink::testing
