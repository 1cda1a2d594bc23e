// The console-log agent end to end: "Marrowby.Listening" started through "Touchpoint.Hub"
// for a COrvexAdapter subscribed as the sink, the stand-in cautil reading the sandbox's
// console log, "Marrowby.Processing" making the events' XML and the stand-in Orvex adapter
// recording what it was sent. Then the agent's registration beside the instance agent's.
//
// One Java VM per process, and the Java adapter keeps the working folder of its first
// configuration: the program shares one sandbox, and the tests run in the order written.
#include <windows.h>
#include <atlbase.h>
#include <auralink/agent_registration.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/interfaces.h>
#include <auralink/processing_manager.h>
#include <gtest/gtest.h>
#include <module_function.h>
#include <objbase.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "adapter_test_agent.h"
#include "listener_sandbox.h"
#include "model_xml_reader.h"
#include "orvex_adapter.h"

namespace {

namespace config = auralink::config;
using marrowby::testing::KeyExists;
using marrowby::testing::ListenerSandbox;
using marrowby::testing::Number;
using marrowby::testing::Text;
using marrowby::testing::WaitFor;
using model_test::XmlElement;

constexpr const char* kAgent = "MarrowbyLst";

typedef HRESULT(STDAPICALLTYPE* EntryPoint)();

// Calls one of a module's registration entry points.
HRESULT CallEntryPoint(const char* modulePath, const char* name) {
  HMODULE module = LoadLibraryA(modulePath);
  auto entryPoint = module ? auralink::testing::ModuleFunction<EntryPoint>(module, name) : nullptr;
  return entryPoint ? entryPoint() : E_UNEXPECTED;
}

// The registered agent with what zeltsetup would add for the adapter: transport settings,
// and a log file (so the adapter's working folder) in the sandbox. The supported classes
// stay the registered file beside the module.
class OrvexEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    sandbox = std::make_unique<ListenerSandbox>();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CallEntryPoint(MARROWBY_MODULE, "DllRegisterServer"), S_OK);
    ASSERT_EQ(CallEntryPoint(TOUCHPOINT_MODULE, "DllRegisterServer"), S_OK);
    const std::string instrumentation = config::InstrumentationKey(kAgent);
    const std::string classesFile = Text(instrumentation, config::kInstrumentationClassesFile);
    orvex::testing::WriteAgentSettings(kAgent, sandbox->Sandbox().Dir());
    CConfRepositoryManager::GetInstance()->SetStr(instrumentation.c_str(), config::kInstrumentationClassesFile,
                                                  classesFile.c_str());
  }
  void TearDown() override {
    CProcessingManager::GetInstance()->Shutdown();
    CoUninitialize();
    sandbox.reset();
  }
  std::unique_ptr<ListenerSandbox> sandbox;
};
OrvexEnvironment* g_environment =
    static_cast<OrvexEnvironment*>(::testing::AddGlobalTestEnvironment(new OrvexEnvironment()));

ListenerSandbox& Sandbox() { return *g_environment->sandbox; }

// One line of the stand-in's record: method, instrumentation identifier, value, payload.
struct Recorded {
  std::string method, id, value, payload;
};

std::vector<Recorded> Record() {
  std::vector<Recorded> lines;
  std::istringstream in(auralink::testing::TestSandbox::ReadFile(Sandbox().Sandbox().Path("orvex-record.txt")));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    Recorded recorded;
    std::getline(fields, recorded.method, '\t');
    std::getline(fields, recorded.id, '\t');
    std::getline(fields, recorded.value, '\t');
    std::getline(fields, recorded.payload);
    lines.push_back(recorded);
  }
  return lines;
}

std::vector<XmlElement> SentEvents() {
  std::vector<XmlElement> events;
  for (const Recorded& line : Record()) {
    if (line.method != "sendEvent") continue;
    model_test::XmlReader reader;
    auto event = reader.Read(line.payload);
    EXPECT_TRUE(event) << reader.Error() << ": " << line.payload;
    if (event) events.push_back(*event);
  }
  return events;
}

std::string Attribute(const XmlElement& element, const char* name) {
  const std::string* value = element.Attribute(name);
  return value ? *value : "<absent>";
}

// The adapter as a sink, noting the thread and the result of every item indicated to it.
class ObservedAdapter : public COrvexAdapter {
 public:
  int HandleOperation(LONG operation, BSTR id, BSTR stream) override {
    int result = COrvexAdapter::HandleOperation(operation, id, stream);
    if (operation == 7) {  // not the adapter's own registration notice
      std::lock_guard<std::mutex> lock(mutex);
      calls.push_back({std::this_thread::get_id(), result});
    }
    return result;
  }
  struct Call {
    std::thread::id thread;
    int result;
  };
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }

 private:
  std::mutex mutex;
  std::vector<Call> calls;
};

TEST(ListeningToOrvex, ConsoleMessagesReachTheOrvexAdapterAsEventsFromThePollingThread) {
  const std::time_t now = std::time(nullptr);
  Sandbox().AddMessage(now - 20, "host1", "admin", "ABC_W_2: disk <C:> & more");
  Sandbox().AddMessage(now - 10, "host2", "oper", "ABC_E_3: service down");

  ObservedAdapter adapter;
  adapter.SetAgentName(kAgent);
  ASSERT_EQ(adapter.Initialize(0, ""), 1) << Sandbox().Trace();
  // Registered with the classes and link types of the agent's own section of the file.
  ASSERT_FALSE(Record().empty());
  EXPECT_EQ(Record()[0].method, "registerInstrumentation");
  EXPECT_NE(Record()[0].payload.find("|classes=ComputerSystem,Network,SoftwareElement|links=MemberOf,RunsOn"),
            std::string::npos)
      << Record()[0].payload;

  CLSID clsid;
  CComPtr<IHub> hub;
  ASSERT_EQ(CLSIDFromProgID(L"Touchpoint.Hub", &clsid), S_OK);
  ASSERT_EQ(hub.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER), S_OK);
  ASSERT_EQ(hub->SetAgentName(CComBSTR(kAgent)), S_OK);
  LONG cid = 0;
  ASSERT_EQ(hub->Subscribe(&adapter, &cid), S_OK);
  // The registered warm start with the filter "a" first drops what Orvex had, then sends
  // every message of the log.
  ASSERT_TRUE(WaitFor([] { return SentEvents().size() == 3; })) << Sandbox().Trace();
  ASSERT_EQ(hub->Unsubscribe(cid), S_OK);

  const std::vector<XmlElement> events = SentEvents();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(Attribute(events[0], "action"), "remove");
  EXPECT_EQ(Attribute(events[1], "description"), "host1, admin, ABC_W_2: disk <C:> & more");
  EXPECT_EQ(Attribute(events[1], "status"), "WARNING");
  EXPECT_EQ(Attribute(events[1], "type"), "TNGmsg#1");
  EXPECT_EQ(Attribute(events[2], "description"), "host2, oper, ABC_E_3: service down");
  EXPECT_EQ(Attribute(events[2], "status"), "CRITICAL");
  EXPECT_EQ(Attribute(events[2], "type"), "TNGmsg#2");
  for (const XmlElement& event : events) {
    EXPECT_EQ(event.name, "event");
    EXPECT_EQ(Attribute(event, "objectClass"), "SoftwareElement");
    EXPECT_EQ(Attribute(event, "category"), "MSG");
  }
  for (const Recorded& line : Record()) {
    if (line.method == "sendEvent") {
      EXPECT_EQ(line.id, adapter.InstrumentationId());
    }
  }

  // Every item came from the polling thread, which the adapter attached to the Java VM for
  // each call.
  const auto calls = adapter.Calls();
  ASSERT_EQ(calls.size(), 3u);
  for (const auto& call : calls) {
    EXPECT_NE(call.thread, std::this_thread::get_id());
    EXPECT_EQ(call.result, 1);
  }
  EXPECT_EQ(Sandbox().DumpFilesLeft(), 0);
}

// The listening run above saved its progress; registering again starts the log afresh.
// The two source agents share the product key: it goes with the last one unregistered.
TEST(ListeningToOrvex, RegistrationResetsTheProgressAndTheProductKeyGoesWithTheLastAgent) {
  const std::string log = config::EventLogKey(kAgent, config::kTngLogKey);
  ASSERT_NE(Text(log, "LastRefresh"), "");
  ASSERT_EQ(Number(log, "LastMsgNr"), 2u);
  ASSERT_EQ(CallEntryPoint(MARROWBY_MODULE, "DllRegisterServer"), S_OK);
  EXPECT_EQ(Text(log, "LastRefresh"), "");
  EXPECT_EQ(Number(log, "LastMsgNr"), 0u);

  ASSERT_EQ(CallEntryPoint(QUILLON_MODULE, "DllRegisterServer"), S_OK);
  ASSERT_EQ(CallEntryPoint(MARROWBY_MODULE, "DllUnregisterServer"), S_OK);
  EXPECT_FALSE(KeyExists(config::AgentKey(kAgent)));
  EXPECT_TRUE(KeyExists(config::AgentKey(config::kInstanceAgent)));
  EXPECT_EQ(Text(config::AgentKey(config::kInstanceAgent), config::kDiscoveryId).size(), 36u);

  ASSERT_EQ(CallEntryPoint(QUILLON_MODULE, "DllUnregisterServer"), S_OK);
  EXPECT_FALSE(KeyExists(config::kRootKey));
  EXPECT_TRUE(KeyExists(config::kVendorKey));
}

}  // namespace
