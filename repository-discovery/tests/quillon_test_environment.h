// One sandbox for the whole test program: Quillon registered into its registry, and one
// repository behind the data source "VAZUV" (unixODBC keeps a data source's entry for the
// life of the process, so the name can point at one file only). The repository holds a
// generated topology and, beside it, hand-made objects of the "Craft" classes whose every
// value the tests know. Each test names its own agent with its own supported-classes file.
#pragma once
#include <windows.h>
#include <atlbase.h>
#include <auralink/interfaces.h>
#include <guiddef.h>
#include <test_sandbox.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillon::testing {

// A hand-made object: its identifier as the repository shows it, and its attribute text.
struct CraftObject {
  std::string id;
  std::string text;
};

class QuillonEnvironment {
 public:
  static QuillonEnvironment& Get();

  // Writes `classes` as the agent's supported-classes file and names it in the agent's key.
  void WriteClassesFile(const std::string& agent, const std::string& classes);
  // A new discovery object, by ProgID.
  CComPtr<IDiscovery> CreateDiscovery();
  // ... initialised with the agent name.
  CComPtr<IDiscovery> CreateDiscovery(const std::string& agent);

  std::string Trace() const;
  std::string RepositoryFile() const { return sandbox_->Path("repository.db"); }
  // Direct count of the rows of `sql`, past ODBC.
  long long Count(const std::string& sql) const;

  // Hand-made objects by name: "zero", "one", "two", "three" (parents), "nostatus",
  // "obrien" (class O'Brien), "hidden" (class CraftHidden), "lower" (class crafty).
  const std::map<std::string, CraftObject>& Crafted() const { return crafted_; }

  void SetUp();
  void TearDown();

 private:
  void AddCraftedObjects();

  std::unique_ptr<auralink::testing::TestSandbox> sandbox_;
  std::map<std::string, CraftObject> crafted_;
};

}  // namespace quillon::testing
