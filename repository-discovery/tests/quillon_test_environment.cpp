#include "quillon_test_environment.h"

#include <auralink/attribute_text.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/guids.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <module_function.h>
#include <windows.h>
#include <objbase.h>
#include <sqlite3.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "repository_generator.h"
#include <auralink/platform/guid_text.h>

namespace quillon::testing {

namespace {

typedef HRESULT(STDAPICALLTYPE* RegisterFunction)();

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The tests run from the build's bin folder, next to the odbc.ini writer.
std::string ProgramFolder() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

// The 16 bytes of a GUID as the repository stores them, as a SQL blob literal.
std::string BlobLiteral(const GUID& guid) {
  unsigned char bytes[16];
  std::memcpy(bytes, &guid, sizeof bytes);
  std::string literal = "X'";
  char hex[3];
  for (unsigned char byte : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", byte);
    literal += hex;
  }
  return literal + "'";
}

GUID CraftGuid(unsigned number) {
  GUID guid = {0xC0FFEE00 + number, 0x1234, 0x4567, {0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, static_cast<BYTE>(number)}};
  return guid;
}

bool Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
  if (!ok) ADD_FAILURE() << sql << ": " << (message ? message : "");
  sqlite3_free(message);
  return ok;
}

QuillonEnvironment* environment = nullptr;

class Registration : public ::testing::Environment {
 public:
  void SetUp() override { QuillonEnvironment::Get().SetUp(); }
  void TearDown() override { QuillonEnvironment::Get().TearDown(); }
};
const bool registered = [] {
  ::testing::AddGlobalTestEnvironment(new Registration);
  return true;
}();

}  // namespace

QuillonEnvironment& QuillonEnvironment::Get() {
  if (!environment) environment = new QuillonEnvironment();
  return *environment;
}

void QuillonEnvironment::SetUp() {
  sandbox_ = std::make_unique<auralink::testing::TestSandbox>();
  CTraceUtils::GetInstance()->LogInitAppend(sandbox_->TraceFile().c_str(), -1, 0, -1);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  HMODULE module = LoadLibraryA(QUILLON_MODULE);
  auto registerServer =
      module ? auralink::testing::ModuleFunction<RegisterFunction>(module, "DllRegisterServer") : nullptr;
  ASSERT_TRUE(registerServer && SUCCEEDED(registerServer())) << "cannot register " << QUILLON_MODULE;

  std::string error;
  auralink::standins::RepositoryCounts counts;
  ASSERT_TRUE(auralink::standins::GenerateRepository(RepositoryFile(), {300, 5}, counts, error)) << error;
  AddCraftedObjects();
  std::string command = Quoted(ProgramFolder() + "/auralink-write-odbc-ini") + " VAZUV " + Quoted(RepositoryFile()) +
                        " " + Quoted(sandbox_->Path("odbc.ini"));
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void QuillonEnvironment::TearDown() {
  CoUninitialize();
  CTraceUtils::GetInstance()->Close();
  sandbox_.reset();
}

void QuillonEnvironment::AddCraftedObjects() {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(RepositoryFile().c_str(), &db), SQLITE_OK);
  struct Row {
    const char* key;
    const char* className;
    const char* name;
    const char* label;  // null: NULL
    int status;
    std::vector<const char*> parents;
  };
  const Row rows[] = {
      {"zero", "CraftZero", "zero-host", nullptr, 2, {}},
      {"one", "CraftOne", "one-host", "rack=1|row=2", 2, {"zero"}},
      {"two", "CraftTwo", "O'Hara's PC", "two", 2, {"zero", "one"}},
      {"three", "CraftThree", "three-host", "three", 2, {"zero", "one", "two"}},
      {"nostatus", "CraftNoStatus", "lost-host", "lost", 42, {"zero"}},
      {"obrien", "O'Brien", "obrien-host", "Café", 0, {}},
      {"hidden", "CraftHidden", "hidden-host", "hidden", 0, {}},
      {"lower", "craftzero", "lower-host", "lower", 0, {}},
  };
  std::map<std::string, std::string> classOf;
  unsigned number = 0;
  for (const Row& row : rows) {
    GUID guid = CraftGuid(++number);
    std::string id = auralink::platform::GuidToString(guid, false);
    std::string label = row.label ? std::string("'") + row.label + "'" : "NULL";
    std::string name = row.name;
    for (size_t at = name.find('\''); at != std::string::npos; at = name.find('\'', at + 2)) name.insert(at, "'");
    std::string className = row.className;
    for (size_t at = className.find('\''); at != std::string::npos; at = className.find('\'', at + 2))
      className.insert(at, "'");
    Exec(db, "INSERT INTO tng_managedobject (uuid, name, label, address, address_type, class_name, severity, date_ins, "
             "date_modify, status_no) VALUES (" +
                 BlobLiteral(guid) + ", '" + name + "', " + label + ", '10.9.0." + std::to_string(number) +
                 "', 1, '" + className + "', " + std::to_string(number % 3) +
                 ", '2024-01-02 03:04:05', '2024-02-03 04:05:06', " + std::to_string(row.status) + ")");
    std::string text;  // a "|" in a value is written as the discovery writes it
    auralink::model::AppendPair(text, "name", row.name);
    auralink::model::AppendPair(text, "label", row.label ? row.label : "");
    text += "address=10.9.0." + std::to_string(number) + "|address_type=1|class_name=" + row.className +
            "|severity=" + std::to_string(number % 3) +
            "|date_ins=2024-01-02 03:04:05|date_modify=2024-02-03 04:05:06|status_text=" +
            (row.status == 2 ? "Warning" : "Normal") + "|";
    for (size_t p = 0; p < row.parents.size(); ++p) {
      const CraftObject& parent = crafted_.at(row.parents[p]);
      GUID parentGuid;
      auralink::platform::GuidFromString(parent.id, parentGuid);
      Exec(db, "INSERT INTO tng_inclusion (child_uuid, parent_class, parent_uuid) VALUES (" + BlobLiteral(guid) + ", '" +
                   classOf[row.parents[p]] + "', " + BlobLiteral(parentGuid) + ")");
      std::string suffix = p == 0 ? "" : "#" + std::to_string(p);
      text += "parent_class" + suffix + "=" + classOf[row.parents[p]] + "|parent_uuid" + suffix + "=" + parent.id + "|";
    }
    crafted_[row.key] = {id, text};
    classOf[row.key] = row.className;
  }
  sqlite3_close(db);
}

void QuillonEnvironment::WriteClassesFile(const std::string& agent, const std::string& classes) {
  std::string path = sandbox_->Path(agent + ".classes");
  auralink::testing::TestSandbox::WriteFile(path, classes);
  CConfRepositoryManager::GetInstance()->SetStr(auralink::config::InstrumentationKey(agent).c_str(),
                                                auralink::config::kInstrumentationClassesFile, path.c_str());
}

CComPtr<IDiscovery> QuillonEnvironment::CreateDiscovery() {
  CComPtr<IDiscovery> discovery;
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(L"Quillon.Discovery", &clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, CLSID_QuillonDiscovery));
  EXPECT_EQ(discovery.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER), S_OK);
  return discovery;
}

CComPtr<IDiscovery> QuillonEnvironment::CreateDiscovery(const std::string& agent) {
  CComPtr<IDiscovery> discovery = CreateDiscovery();
  if (discovery) {
    EXPECT_EQ(discovery->Initialize(CComBSTR(agent.c_str())), S_OK) << Trace();
  }
  return discovery;
}

std::string QuillonEnvironment::Trace() const {
  return auralink::testing::TestSandbox::ReadFile(sandbox_->TraceFile());
}

long long QuillonEnvironment::Count(const std::string& sql) const {
  sqlite3* db = nullptr;
  long long count = -1;
  if (sqlite3_open_v2(RepositoryFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      count = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return count;
}

}  // namespace quillon::testing
