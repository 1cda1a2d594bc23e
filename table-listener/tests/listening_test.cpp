// "Dunmere.Listening" through COM: pollers made from the agent's table entries, their
// lifecycle, and the whole path from a repository change to a sink subscribed for the
// instance agent.
#include <windows.h>
#include <atlbase.h>
#include <auralink/config_keys.h>
#include <auralink/guids.h>
#include <auralink/hub_components.h>
#include <auralink/interfaces.h>
#include <gtest/gtest.h>
#include <module_function.h>
#include <objbase.h>
#include <windows.h>

#include <map>
#include <set>

#include "attribute_fields.h"
#include "db_test_repository.h"
#include "recording_sink.h"
#include "table_entries.h"
#include <auralink/platform/guid_text.h>

namespace {

using auralink::testing::AttributeFields;
using auralink::testing::IndicatedItem;
using auralink::testing::ParseAttributeText;
using auralink::testing::RecordingSink;
using auralink::testing::SqliteFile;
using auralink::testing::StandInRepositoryTest;
using dunmere::testing::TableKey;
using dunmere::testing::WriteValues;

typedef HRESULT(STDAPICALLTYPE* EntryPoint)();

template <typename Condition>
bool WaitFor(Condition condition, int seconds = 8) {
  for (int i = 0; i < seconds * 100 && !condition(); ++i) Sleep(10);
  return condition();
}

class ListeningTest : public StandInRepositoryTest {
 protected:
  void SetUp() override {
    StandInRepositoryTest::SetUp();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HMODULE module = LoadLibraryA(DUNMERE_MODULE);
    ASSERT_TRUE(module);
    auto registerServer = auralink::testing::ModuleFunction<EntryPoint>(module, "DllRegisterServer");
    ASSERT_TRUE(registerServer);
    ASSERT_EQ(registerServer(), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    StandInRepositoryTest::TearDown();
  }

  CComPtr<IListening> CreateListener() {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(L"Dunmere.Listening", &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, CLSID_DunmereListening));
    CComPtr<IListening> listener;
    EXPECT_EQ(listener.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER), S_OK);
    return listener;
  }

  int Occurrences(const std::string& text) {
    std::string trace = Trace();
    int count = 0;
    for (size_t at = trace.find(text); at != std::string::npos; at = trace.find(text, at + 1)) ++count;
    return count;
  }
};

TEST_F(ListeningTest, InitializeMakesAPollerPerCompleteTableAndStopsAtTheFirstIncompleteOne) {
  // Entries enumerate by name: "A" (complete, two update tables), then "B" without its data source.
  WriteValues(TableKey("TwoLst", "A"), {{"Database", "nowhere"}, {"PollingTabName", "TA"}, {"RefreshTime", "x"}});
  WriteValues(TableKey("TwoLst", "A") + "\\OnUpdate\\OnUpdateTables\\U1", {{"OnUpdateTableName", "UA"}});
  WriteValues(TableKey("TwoLst", "A") + "\\OnUpdate\\OnUpdateTables\\U1\\OnUpdateFields", {{"f", "NAME"}});
  WriteValues(TableKey("TwoLst", "A") + "\\OnUpdate\\OnUpdateTables\\U2", {{"OnUpdateTableName", "UA2"}});
  WriteValues(TableKey("TwoLst", "B"), {{"PollingTabName", "TB"}, {"RefreshTime", "5"}});
  WriteValues(TableKey("TwoLst", "B") + "\\OnUpdate\\OnUpdateTables\\U", {{"OnUpdateTableName", "UB"}});
  CComPtr<IListening> listener = CreateListener();
  ASSERT_TRUE(listener);
  EXPECT_EQ(listener->Initialize(CComBSTR("TwoLst")), E_FAIL);
  EXPECT_EQ(Occurrences("DSN cannot be obtained for listening to table B (agent TwoLst)"), 1);
  EXPECT_EQ(Occurrences("Instantiate a thread for listening to the table"), 1);
  EXPECT_EQ(Occurrences("Launching the Polling Thread with the dynamic query construction."), 1);
  EXPECT_EQ(Occurrences("onUpdateField: UA.NAME"), 1);
  EXPECT_EQ(Occurrences("onUpdateTables: UB"), 0);  // the second table's lists are its own

  // The one poller starts (its unreachable data source is its own business) and stops.
  EXPECT_EQ(listener->Start(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return Occurrences("The table TA (data source nowhere) cannot be polled") == 1; }))
      << Trace();
  EXPECT_EQ(Occurrences("Poll interval 0 s of the table TA raised to 1 s"), 1);  // "x" reads as 0
  EXPECT_EQ(listener->Terminate(), S_OK);
  EXPECT_EQ(listener->Terminate(), S_OK);
  EXPECT_EQ(Occurrences("Called Terminate"), 2);
  EXPECT_EQ(Occurrences("Polling of the table TA stopped"), 1);

  // Released without Terminate after a Start: its pollers end with it.
  WriteValues(TableKey("OneLst", "A"), {{"Database", "nowhere"}, {"PollingTabName", "TC"}, {"RefreshTime", "1"}});
  EXPECT_EQ(listener->Initialize(CComBSTR("OneLst")), S_OK);
  EXPECT_EQ(listener->Start(), S_OK);
  listener.Release();
  EXPECT_EQ(Occurrences("Polling of the table TC stopped"), 1);
}

// The identifier that the instance agent's processing class takes from a key stream
// "uuid=...|", and the fields it reads from the object stream.
std::pair<std::string, AttributeFields> ReadAsProcessing(const IndicatedItem& item) {
  size_t equals = item.key.find('=');
  return {item.key.substr(equals + 1, item.key.size() - equals - 2), ParseAttributeText(item.object)};
}

TEST_F(ListeningTest, RepositoryChangesReachASinkSubscribedForTheInstanceAgent) {
  const char* kAgent = auralink::config::kInstanceAgent;
  std::string file = Generate(60, 11);
  dunmere::testing::WriteManagedObjectsEntry(kAgent, Register(file), "1");
  WriteValues(auralink::config::AgentKey(kAgent),
              {{auralink::config::kListeningId, auralink::platform::GuidToString(CLSID_DunmereListening, false)}});
  SqliteFile db(file);
  auto ids = db.Rows("SELECT hex(uuid), class_name FROM tng_managedobject ORDER BY rowid LIMIT 4");
  ASSERT_EQ(ids.size(), 4u);
  auto text = [&](const std::string& hex) {  // the identifier text of 16 stored bytes
    GUID guid;
    for (int i = 0; i < 16; ++i) reinterpret_cast<unsigned char*>(&guid)[i] =
        static_cast<unsigned char>(std::stoi(hex.substr(static_cast<size_t>(2 * i), 2), nullptr, 16));
    return auralink::platform::GuidToString(guid, false);
  };

  RecordingSink sink;
  LONG cid = 0;
  ASSERT_TRUE(CListeningManager::GetInstance()->Subscribe(kAgent, &sink, &cid)) << Trace();
  ASSERT_TRUE(WaitFor([&] { return Trace().find("Baseline of the table tng_managedobject taken") != std::string::npos; }))
      << Trace();

  // A new object under two parents; one object gains a parent; one changes status; one goes.
  const std::string created = "X'0102030405060708090A0B0C0D0E0F10'";
  ASSERT_TRUE(db.Exec(
      "INSERT INTO tng_managedobject VALUES (" + created + ", 'fresh', 'Fresh', '10.2.2.2', 1, 'Workstation', 3, "
      "'2026-02-02 00:00:00', '2026-02-02 00:00:00', (SELECT MIN(status_no) FROM tng_status));"
      "INSERT INTO tng_inclusion VALUES (" + created + ", '" + ids[0][1] + "', X'" + ids[0][0] + "');"
      "INSERT INTO tng_inclusion VALUES (" + created + ", '" + ids[1][1] + "', X'" + ids[1][0] + "');"
      "INSERT INTO tng_inclusion VALUES (X'" + ids[2][0] + "', 'Workstation', " + created + ");"
      "UPDATE tng_managedobject SET status_no = (SELECT MAX(status_no) FROM tng_status WHERE status_no <> "
      "tng_managedobject.status_no) WHERE uuid = X'" + ids[1][0] + "';"
      "DELETE FROM tng_inclusion WHERE child_uuid = X'" + ids[3][0] + "';"
      "DELETE FROM tng_managedobject WHERE uuid = X'" + ids[3][0] + "'"));
  ASSERT_TRUE(WaitFor([&] { return sink.Items().size() >= 4; })) << Trace();
  Sleep(1200);  // nothing more comes
  std::vector<IndicatedItem> items = sink.Items();
  ASSERT_EQ(items.size(), 4u) << Trace();

  std::map<std::string, std::pair<LONG, AttributeFields>> byId;
  for (const IndicatedItem& item : items) {
    EXPECT_EQ(item.key.rfind("uuid=", 0), 0u) << item.key;
    auto [id, fields] = ReadAsProcessing(item);
    byId[id] = {item.operation, fields};
  }
  const auto& fresh = byId["04030201-0605-0807-090A-0B0C0D0E0F10"];
  EXPECT_EQ(fresh.first, 1);
  EXPECT_EQ(fresh.second.plain.at("name"), "fresh");
  EXPECT_EQ(fresh.second.plain.at("label"), "Fresh");
  EXPECT_EQ(fresh.second.plain.at("class_name"), "Workstation");
  EXPECT_EQ(fresh.second.plain.at("severity"), "3");
  EXPECT_FALSE(fresh.second.plain.at("status_text").empty());
  std::multiset<std::pair<std::string, std::string>> parents = {{ids[0][1], text(ids[0][0])}, {ids[1][1], text(ids[1][0])}};
  EXPECT_EQ(fresh.second.parents, parents);
  EXPECT_EQ(byId[text(ids[2][0])].first, 2);  // a parent more
  EXPECT_TRUE(byId[text(ids[2][0])].second.parents.count({"Workstation", "04030201-0605-0807-090A-0B0C0D0E0F10"}));
  EXPECT_EQ(byId[text(ids[1][0])].first, 2);  // another status text
  EXPECT_EQ(byId[text(ids[3][0])].first, 3);
  EXPECT_EQ(byId[text(ids[3][0])].second.plain.at("class_name"), ids[3][1]);

  // The polled table goes away and comes back: no indication, neither false deletions nor
  // false creations.
  ASSERT_TRUE(db.Exec("ALTER TABLE tng_managedobject RENAME TO tng_managedobject_away"));
  ASSERT_TRUE(WaitFor([&] { return Trace().find("cannot be polled") != std::string::npos; })) << Trace();
  ASSERT_TRUE(db.Exec("ALTER TABLE tng_managedobject_away RENAME TO tng_managedobject"));
  ASSERT_TRUE(WaitFor([&] { return Trace().find("Polling of the table tng_managedobject resumed") != std::string::npos; }));
  Sleep(1200);
  EXPECT_EQ(sink.Items().size(), 4u);

  ASSERT_TRUE(CListeningManager::GetInstance()->Unsubscribe(cid));
  EXPECT_TRUE(WaitFor([&] { return Trace().find("Polling of the table tng_managedobject stopped") != std::string::npos; }));
}

}  // namespace
