// CDiscovery through COM against the sandbox repository.
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/guids.h>
#include <auralink/hub_components.h>
#include <auralink/payload_arrays.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "quillon_test_environment.h"
#include "unlinked_objects.h"
#include <auralink/platform/guid_text.h>

namespace quillon::testing {
namespace {

QuillonEnvironment& Env() { return QuillonEnvironment::Get(); }

constexpr const char* kCraftClasses =
    "class CraftZero Host\n"
    "class CraftOne Host\n"
    "class CraftTwo Host\n"
    "class CraftThree Host\n"
    "class CraftNoStatus Host\n"
    "class CraftEmpty Host\n"
    "class O'Brien Host\n"
    "class x')OR('1'='1 Host\n";

struct Enumeration {
  HRESULT hr = E_UNEXPECTED;
  LONG count = -1;
  bool variantVector = false;  // a one-dimensional VARIANT array from 0 came back
  std::vector<std::string> ids;
};

Enumeration Enumerate(IDiscovery* discovery, const char* classPath) {
  Enumeration result;
  auralink::PayloadArray ids;
  result.hr = discovery->EnumInstances(CComBSTR(classPath), 0, nullptr, &result.count, ids.Receive());
  VARTYPE type = VT_EMPTY;
  LONG lower = -1;
  SAFEARRAY* array = ids.Get();
  result.variantVector = array && SafeArrayGetDim(array) == 1 && SUCCEEDED(SafeArrayGetVartype(array, &type)) &&
                         type == VT_VARIANT && SUCCEEDED(SafeArrayGetLBound(array, 1, &lower)) && lower == 0;
  for (LONG i = 0; i < ids.Count(); ++i) {
    std::string id;
    EXPECT_EQ(auralink::GetStringElement(ids.Get(), i, &id), S_OK);
    result.ids.push_back(id);
  }
  if (SUCCEEDED(result.hr)) {
    EXPECT_EQ(ids.Count(), result.count);
  }
  return result;
}

std::string Fetch(IDiscovery* discovery, const std::string& id, HRESULT* hr = nullptr) {
  CComBSTR instance;
  HRESULT result = discovery->GetInstance(CComBSTR(id.c_str()), 0, nullptr, &instance);
  if (hr) *hr = result;
  return instance.ToNarrow();
}

std::string Id(const char* crafted) { return Env().Crafted().at(crafted).id; }

TEST(QuillonEnumeration, AllClassesGiveEveryListedObjectAfterTheUnlinkedAggregate) {
  Env().WriteClassesFile("EnumAll", "class IpNetwork Network\nclass IpSubnet Subnet\nclass Router Router\n"
                                    "class Printer Printer\nclass Nowhere Nothing\n");
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery("EnumAll");
  ASSERT_TRUE(discovery);
  Enumeration all = Enumerate(discovery, "");
  ASSERT_EQ(all.hr, S_OK);
  EXPECT_TRUE(all.variantVector);
  long long listed = Env().Count(
      "SELECT count(*) FROM tng_managedobject WHERE class_name IN ('IpNetwork','IpSubnet','Router','Printer')");
  ASSERT_GT(listed, 10);
  EXPECT_EQ(all.count, listed + 1);
  ASSERT_FALSE(all.ids.empty());
  EXPECT_EQ(all.ids[0], kUnlinkedObjectsId);
  std::set<std::string> distinct(all.ids.begin(), all.ids.end());
  EXPECT_EQ(distinct.size(), all.ids.size());
  for (const std::string& id : all.ids) {
    GUID guid;
    EXPECT_TRUE(id.size() == 36 && auralink::platform::GuidFromString(id, guid)) << id;
  }
  EXPECT_NE(Env().Trace().find("TNG:IDiscovery: Getting all object uuids"), std::string::npos);
  EXPECT_NE(Env().Trace().find("Object uuids have been successfully gotten (num = " + std::to_string(listed + 1) + ")"),
            std::string::npos);

  // One class: its objects only, without the aggregate.
  Enumeration routers = Enumerate(discovery, "Router");
  ASSERT_EQ(routers.hr, S_OK);
  EXPECT_EQ(routers.count, Env().Count("SELECT count(*) FROM tng_managedobject WHERE class_name = 'Router'"));
  for (const std::string& id : routers.ids) EXPECT_EQ(Fetch(discovery, id).find("class_name=Router|") != std::string::npos, true);
  EXPECT_NE(Env().Trace().find("Getting uuids of instances of the class Router"), std::string::npos);
}

TEST(QuillonEnumeration, UnsupportedEmptyAndHostileClasses) {
  Env().WriteClassesFile("EnumCraft", kCraftClasses);
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery("EnumCraft");
  ASSERT_TRUE(discovery);

  // In the database but not listed, or listed in another letter case.
  for (const char* unsupported : {"CraftHidden", "craftzero"}) {
    Enumeration result = Enumerate(discovery, unsupported);
    EXPECT_EQ(result.hr, E_FAIL);
    EXPECT_EQ(result.count, -1);
    EXPECT_NE(Env().Trace().find(std::string("Instances of class ") + unsupported +
                                 " cannot be enumerated. Class not supported"),
              std::string::npos);
  }

  // A real array without elements, not a null one: the caller destroys what it gets.
  Enumeration empty = Enumerate(discovery, "CraftEmpty");
  EXPECT_EQ(empty.hr, S_OK);
  EXPECT_EQ(empty.count, 0);
  EXPECT_TRUE(empty.variantVector);
  EXPECT_TRUE(empty.ids.empty());

  // Apostrophes in a class name stay inside the string literal.
  Enumeration obrien = Enumerate(discovery, "O'Brien");
  ASSERT_EQ(obrien.hr, S_OK);
  EXPECT_EQ(obrien.ids, std::vector<std::string>{Id("obrien")});
  Enumeration hostile = Enumerate(discovery, "x')OR('1'='1");
  EXPECT_EQ(hostile.hr, S_OK);
  EXPECT_EQ(hostile.count, 0);
  EXPECT_NE(Env().Trace().find("WHERE (class_name='x'')OR(''1''=''1')"), std::string::npos);

  // The all-classes list quotes them the same way.
  Enumeration all = Enumerate(discovery, "");
  ASSERT_EQ(all.hr, S_OK);
  std::set<std::string> ids(all.ids.begin(), all.ids.end());
  EXPECT_EQ(ids, (std::set<std::string>{kUnlinkedObjectsId, Id("zero"), Id("one"), Id("two"), Id("three"),
                                        Id("nostatus"), Id("obrien")}));
}

TEST(QuillonEnumeration, FailsWithoutClassesOrConnection) {
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery("NoClassesFile");
  ASSERT_TRUE(discovery);
  Enumeration result = Enumerate(discovery, "");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_EQ(result.count, -1);

  Env().WriteClassesFile("Closed", kCraftClasses);
  CComPtr<IDiscovery> closed = Env().CreateDiscovery("Closed");
  ASSERT_EQ(closed->Terminate(), S_OK);
  EXPECT_NE(Env().Trace().find("TNG:IDiscovery: TNG database closed"), std::string::npos);
  EXPECT_EQ(Enumerate(closed, "CraftZero").hr, E_FAIL);
  EXPECT_NE(Env().Trace().find("Unable to get object uuids"), std::string::npos);
}

// Where each text appears in `trace`, from `from` on, in order; npos once one is missing.
std::vector<size_t> PositionsInOrder(const std::string& trace, size_t from, const std::vector<std::string>& texts) {
  std::vector<size_t> positions;
  for (const std::string& text : texts) {
    from = from == std::string::npos ? from : trace.find(text, from);
    positions.push_back(from);
  }
  return positions;
}

TEST(QuillonConnection, InitializeOpensTheRepositoryOrFailsSaying) {
  size_t traced = Env().Trace().size();
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery();
  ASSERT_TRUE(discovery);
  EXPECT_EQ(discovery->Initialize(CComBSTR(L"Opening")), S_OK);
  const std::vector<std::string> opened = {
      "TNG:IDiscovery: Inside of CDiscovery::Initialize. AgentName set to Opening\n",
      "TNG:IDiscovery: Opening TNG database\n", "TNG:IDiscovery: TNG Database successfully opened\n"};
  for (size_t position : PositionsInOrder(Env().Trace(), traced, opened)) {
    EXPECT_NE(position, std::string::npos) << Env().Trace().substr(traced);
  }

  // With the repository file gone the data source no longer serves its tables.
  namespace fs = std::filesystem;
  const fs::path repository = Env().RepositoryFile();
  const fs::path aside = repository.string() + ".aside";
  fs::rename(repository, aside);
  traced = Env().Trace().size();
  CComPtr<IDiscovery> failing = Env().CreateDiscovery();
  HRESULT hr = failing ? failing->Initialize(CComBSTR(L"Unreachable")) : E_UNEXPECTED;
  failing.Release();
  fs::remove(repository);  // whatever the driver made in its place
  fs::rename(aside, repository);
  EXPECT_EQ(hr, E_FAIL);
  std::string added = Env().Trace().substr(traced);
  const std::vector<std::string> refused = {
      "TNG:IDiscovery: Inside of CDiscovery::Initialize. AgentName set to Unreachable\n",
      "TNG:IDiscovery: Opening TNG database\n", "TNG:IDiscovery: Unable to open the TNG Database\n"};
  for (size_t position : PositionsInOrder(added, 0, refused)) {
    EXPECT_NE(position, std::string::npos) << added;
  }
  EXPECT_EQ(added.find("successfully opened"), std::string::npos) << added;
}

// How many of the process's open files are the repository file.
int OpenRepositoryFiles() {
  const std::filesystem::path repository = std::filesystem::canonical(Env().RepositoryFile());
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == repository) ++count;
  }
  return count;
}

TEST(QuillonConnection, ShuttingTheDiscoveryManagerDownClosesTheRepository) {
  const char* agent = "Managed";
  Env().WriteClassesFile(agent, kCraftClasses);
  CConfRepositoryManager::GetInstance()->SetStr(
      auralink::config::AgentKey(agent).c_str(), auralink::config::kDiscoveryId,
      auralink::platform::GuidToString(CLSID_QuillonDiscovery, false).c_str());
  CDiscoveryManager* manager = CDiscoveryManager::GetInstance();
  const int closed = OpenRepositoryFiles();

  for (int round = 0; round < 2; ++round) {  // a call after a shutdown connects again
    LONG count = -1;
    auralink::PayloadArray ids;
    ASSERT_EQ(manager->EnumInstances(agent, CComBSTR(L"CraftZero"), 0, nullptr, &count, ids.Receive()), 1)
        << Env().Trace();
    EXPECT_EQ(count, 1);
    EXPECT_GT(OpenRepositoryFiles(), closed);
    size_t traced = Env().Trace().size();
    EXPECT_EQ(manager->Shutdown(), 1);
    EXPECT_EQ(OpenRepositoryFiles(), closed);
    EXPECT_NE(Env().Trace().find("TNG:IDiscovery: TNG database closed", traced), std::string::npos);
  }
}

TEST(QuillonInstance, TextHoldsTheObjectAndEachParent) {
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery("Fetch");
  ASSERT_TRUE(discovery);
  for (const char* name : {"zero", "one", "two", "three", "obrien"}) {
    HRESULT hr = E_UNEXPECTED;
    EXPECT_EQ(Fetch(discovery, Id(name), &hr), Env().Crafted().at(name).text) << name;
    EXPECT_EQ(hr, S_OK);
  }
  // Spelled out once, so that the expectations themselves are checked.
  EXPECT_EQ(Fetch(discovery, Id("two")),
            "name=O'Hara's PC|label=two|address=10.9.0.3|address_type=1|class_name=CraftTwo|severity=0|"
            "date_ins=2024-01-02 03:04:05|date_modify=2024-02-03 04:05:06|status_text=Warning|parent_class=CraftZero|"
            "parent_uuid=" +
                Id("zero") + "|parent_class#1=CraftOne|parent_uuid#1=" + Id("one") + "|");
  EXPECT_NE(Env().Trace().find("Inside of CDiscovery::GetInstance (instance id " + Id("two") + ")"), std::string::npos);
}

TEST(QuillonInstance, ObjectsThatCannotBeRead) {
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery("Unreadable");
  ASSERT_TRUE(discovery);
  CComBSTR untouched(L"untouched");
  BSTR instance = untouched;

  EXPECT_EQ(discovery->GetInstance(CComBSTR(Id("nostatus").c_str()), 0, nullptr, &instance), E_FAIL);
  EXPECT_EQ(instance, static_cast<BSTR>(untouched));
  EXPECT_NE(Env().Trace().find("The object with uuid " + Id("nostatus") +
                               " doesn't have all info needed to remap the object in Orvex"),
            std::string::npos);

  // Not a GUID: the query with parents is refused and the one without is never tried.
  std::string trace = Env().Trace();
  EXPECT_EQ(discovery->GetInstance(CComBSTR(L"not-a-guid"), 0, nullptr, &instance), E_FAIL);
  EXPECT_EQ(instance, static_cast<BSTR>(untouched));
  std::string added = Env().Trace().substr(trace.size());
  EXPECT_NE(added.find("TNG:IDiscovery: Unable to get object"), std::string::npos) << added;
  EXPECT_EQ(added.find("tng_status AS B WHERE"), std::string::npos) << added;
}

TEST(QuillonInstance, ApostrophesInTheIdentifierCannotChangeTheQuery) {
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery("Hostile");
  ASSERT_TRUE(discovery);
  // Unescaped, this would turn the condition into "... OR ('1'='1')" and read every object.
  const std::string hostile = Id("zero") + "'))) OR ((('1'='1";
  HRESULT hr = S_OK;
  EXPECT_EQ(Fetch(discovery, hostile, &hr), "");
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_NE(Env().Trace().find("CONVERT(uniqueidentifier, '" + Id("zero") + "''))) OR (((''1''=''1'))) AND"),
            std::string::npos);

  EXPECT_EQ(Fetch(discovery, "'; DROP TABLE tng_status; --", &hr), "");
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(Env().Count("SELECT count(*) FROM tng_status"), 8);
  EXPECT_EQ(Fetch(discovery, Id("zero"), &hr), Env().Crafted().at("zero").text);
}

TEST(QuillonInstance, UnlinkedAggregateNeedsNoDatabase) {
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery();  // not initialised: no connection
  ASSERT_TRUE(discovery);
  size_t traced = Env().Trace().size();
  HRESULT hr = E_UNEXPECTED;
  EXPECT_EQ(Fetch(discovery, kUnlinkedObjectsId, &hr),
            "name=TNGUnlinkedObjects|class_name=Aggregate|label=TNG Unlinked Objects|severity=0|"
            "parent_class=unknown|parent_uuid=unknown|");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Env().Trace().find("DBManager", traced), std::string::npos);
  // Exact and case-sensitive: the lower-case spelling is an ordinary (unknown) identifier.
  std::string lower = kUnlinkedObjectsId;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Fetch(discovery, lower, &hr), "");
  EXPECT_EQ(hr, E_FAIL);
}

TEST(QuillonClass, AnswersItsInterfacesOnly) {
  CComPtr<IDiscovery> discovery = Env().CreateDiscovery();
  ASSERT_TRUE(discovery);
  CComPtr<IDispatch> dispatch;
  EXPECT_EQ(discovery.QueryInterface(&dispatch), S_OK);
  CComPtr<IUnknown> unknown;
  EXPECT_EQ(discovery.QueryInterface(&unknown), S_OK);
  CComPtr<IHub> hub;
  EXPECT_EQ(discovery.QueryInterface(&hub), E_NOINTERFACE);
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"EnumInstances");
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 3);
}

}  // namespace
}  // namespace quillon::testing
