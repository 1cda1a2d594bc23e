// COrvexAdapter and the JavaBridge against a real Java VM and the stand-in Orvex adapter.
// One VM per process, and the Java adapter keeps the working folder of its first
// configuration: the whole program shares one sandbox, and each test reads the lines the
// stand-in recorded since it started. Tests run in the order written.
#include <windows.h>
#include <atlbase.h>
#include <auralink/operation_codes.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <test_sandbox.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "adapter_constants.h"
#include "adapter_exception.h"
#include "adapter_test_agent.h"
#include "java_bridge.h"
#include "orvex_adapter.h"

using auralink::testing::TestSandbox;

namespace {

constexpr const char* kAgent = "QuillonLst";

class JvmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    sandbox = std::make_unique<TestSandbox>();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    CTraceUtils::GetInstance()->LogInitAppend(sandbox->TraceFile().c_str(), -1, 0, -1);
    orvex::testing::WriteAgentSettings(kAgent, sandbox->Dir());
    orvex::testing::UseScriptedProcessing(kAgent);
  }
  void TearDown() override {
    CTraceUtils::GetInstance()->Close();
    sandbox.reset();
  }
  std::unique_ptr<TestSandbox> sandbox;
};
JvmEnvironment* g_environment =
    static_cast<JvmEnvironment*>(::testing::AddGlobalTestEnvironment(new JvmEnvironment()));

TestSandbox& Sandbox() { return *g_environment->sandbox; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What the stand-in and our trace gained since the test began.
class JvmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recordMark = Record().size();
    traceMark = TestSandbox::ReadFile(Sandbox().TraceFile()).size();
  }
  static std::vector<std::string> Record() {
    return Lines(TestSandbox::ReadFile(Sandbox().Path("orvex-record.txt")));
  }
  std::vector<std::string> NewRecords() const {
    auto all = Record();
    return std::vector<std::string>(all.begin() + static_cast<long>(recordMark), all.end());
  }
  std::string NewTrace() const { return TestSandbox::ReadFile(Sandbox().TraceFile()).substr(traceMark); }
  bool Traced(const std::string& text) const { return NewTrace().find(text) != std::string::npos; }
  int TraceCount(const std::string& text) const {
    const std::string trace = NewTrace();
    int count = 0;
    for (std::size_t at = trace.find(text); at != std::string::npos; at = trace.find(text, at + 1)) ++count;
    return count;
  }
  void Initialize(COrvexAdapter& adapter) {
    adapter.SetAgentName(kAgent);
    ASSERT_EQ(adapter.Initialize(0, ""), 1) << NewTrace();
  }
  static int Handle(COrvexAdapter& adapter, LONG operation, const char* id, const std::string& object) {
    return adapter.HandleOperation(operation, CComBSTR(id).Detach(), CComBSTR(object.c_str()).Detach());
  }
  static void RequestFault(const std::string& method, const char* message) {
    std::string text = "method=" + method + "\n";
    if (message) text += std::string("message=") + message + "\n";
    TestSandbox::WriteFile(Sandbox().Path("orvex-fault.properties"), text);
  }
  static void ClearFault() { std::filesystem::remove(Sandbox().Path("orvex-fault.properties")); }

  std::size_t recordMark = 0;
  std::size_t traceMark = 0;
};

const std::string kInstance = R"(<?xml version="1.0" encoding="UTF-8"?><instance class="ComputerSystem" id="A1" name="srv"/>)";
const std::string kLink = R"(<link type="MemberOf"><source class="ComputerSystem" id="A1"/><target class="Subnet" id="S1"/></link>)";

TEST_F(JvmTest, AConfigurationTheJavaAdapterRefusesLeavesNoBridgeBehind) {
  const std::string file = Sandbox().Path("refused.conf");
  TestSandbox::WriteFile(file, "adapter.type = LocalAdapter\nadapter.working.dir = " + Sandbox().Dir() +
                                   "\ntrace.filename = t.log\ntransport.class.name = x\n"
                                   "transport.request.address = a\ntransport.request.port = 41x0\n"
                                   "transport.response.address = a\ntransport.response.port = 4100\n"
                                   "transport.server.ip.address = s\ntransport.server.qlink.port = 4200\n");
  ::testing::internal::CaptureStdout();
  try {
    JavaBridge::GetInstance(file);
    ADD_FAILURE() << "the bridge accepted a refused configuration";
  } catch (const AdapterException& e) {
    EXPECT_NE(e.Message().find("transport.request.port"), std::string::npos) << e.Message();
  }
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("ERROR - Adapter object refernce is null"),
            std::string::npos);
}

TEST_F(JvmTest, InitializeRegistersTheAgentsClassesAndRemovesTheConfigurationFile) {
  COrvexAdapter adapter;
  Initialize(adapter);
  EXPECT_FALSE(std::filesystem::exists(adapter.ConfigFilePath()));
  // The Java side received the sum of its own three flag values and the Orvex names.
  EXPECT_EQ(NewRecords(), std::vector<std::string>{"registerInstrumentation\t" + adapter.InstrumentationId() +
                                                   "\tSUPPORTS_BULK+SUPPORTS_DELTA+SUPPORTS_EVENTS\t"
                                                   "TNG INSTRUMENTATION|classes=Network,Subnet,ComputerSystem|"
                                                   "links=PartOf,MemberOf"});
  EXPECT_TRUE(Traced("Registering with 3 classe(s) and 2 link type(s)"));
  EXPECT_TRUE(Traced("Passing link type MemberOf to the adapter"));
  // The registration notice went through processing and asked for nothing to be sent.
  EXPECT_TRUE(Traced("Processing required to send 0 messages"));

  // One bridge per process, whatever file a later caller names.
  JavaBridge* bridge = JavaBridge::GetInstance("/absent/file.conf");
  EXPECT_EQ(JavaBridge::GetInstance("/other.conf"), bridge);
  EXPECT_NE(bridge->JavaConstant(auralink::orvex::BULK_DISCOVERY), auralink::orvex::BULK_DISCOVERY);

  // A second registration gets an identifier of its own.
  COrvexAdapter second;
  Initialize(second);
  EXPECT_NE(second.InstrumentationId(), adapter.InstrumentationId());
}

TEST_F(JvmTest, ADiscoveryReachesOrvexAsTheCallsOfItsOperationsInOrder) {
  COrvexAdapter adapter;
  Initialize(adapter);
  const std::string id = adapter.InstrumentationId();
  recordMark = Record().size();
  ASSERT_EQ(adapter.BeginDiscovery(0), 1);
  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "A1", "1\t" + kInstance + "\n4\t" + kLink), 1);
  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "A2", "2\t<instance id=\"A2\"/>\n3\t<instance id=\"A3\"/>"),
            1);
  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "A4", "6\t<link/>\n12\t<event/>"), 1);
  ASSERT_EQ(adapter.CommitDiscovery(), 1);
  ASSERT_EQ(adapter.Terminate(), 1);
  // The response wait the adapter sets (6) reaches Java unchanged.
  EXPECT_EQ(NewRecords(), (std::vector<std::string>{
                              "beginDiscovery\t" + id + "\tBULK_DISCOVERY\t-",
                              "addObjectInstances\t" + id + "\t6\t" + kInstance,
                              "addLinkInstances\t" + id + "\t6\t" + kLink,
                              "modifyObjectInstances\t" + id + "\t6\t<instance id=\"A2\"/>",
                              "deleteObjectInstances\t" + id + "\t6\t<instance id=\"A3\"/>",
                              "deleteLinkInstances\t" + id + "\t6\t<link/>",
                              "sendEvent\t" + id + "\t-\t<event/>",
                              "commitDiscovery\t" + id + "\t-\t-",
                              "unregisterInstrumentation\t" + id + "\t-\t-",
                          }));
  EXPECT_FALSE(adapter.IsInitialized());
  EXPECT_EQ(adapter.AddInstance(auralink::platform::ToWide(kInstance)), 0);  // unregistered: refused before Java
}

TEST_F(JvmTest, HandleOperationSendsWhatProcessingReturnsAndStopsAtTheFirstFailure) {
  COrvexAdapter adapter;
  Initialize(adapter);
  recordMark = Record().size();
  traceMark = TestSandbox::ReadFile(Sandbox().TraceFile()).size();

  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "none", ""), 1);  // zero operations
  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "filtered", "10\t<filtered/>"), 1);
  EXPECT_TRUE(Traced("ProcessingObject returned (FILTERED -> <filtered/>)"));
  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "odd", "5\t<five/>"), 1);
  EXPECT_TRUE(Traced("Unable to establish operation"));
  EXPECT_EQ(TraceCount("Calling method on the OrvexAdapter pointer"), 0);
  EXPECT_TRUE(NewRecords().empty());

  // The first call fails in Java: the other two are traced, never sent.
  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "broken", "1\t<broken\n4\t" + kLink + "\n4\t" + kLink), 0);
  EXPECT_TRUE(Traced("ProcessingObject returned (INSTANCECREATION -> <broken)"));
  EXPECT_EQ(TraceCount("ProcessingObject returned (LINKCREATION -> "), 2);
  EXPECT_EQ(TraceCount("Calling method on the OrvexAdapter pointer"), 1);
  EXPECT_TRUE(Traced("Unable to add an instance. Exception thrown:  addObjectInstances refused: the XML text is not "
                     "well-formed"));
  EXPECT_TRUE(NewRecords().empty());

  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "fail", "1\t<a/>"), 0);
  EXPECT_TRUE(Traced("Processing of the instance with id fail returned with error"));

  // A listener's event (7) is processed as 12.
  EXPECT_EQ(Handle(adapter, auralink::LISTENEREVENT, "event", "echo"), 1);
  EXPECT_EQ(NewRecords().back(), "sendEvent\t" + adapter.InstrumentationId() + "\t-\t<received operation=\"12\"/>");
}

TEST_F(JvmTest, DiscoveryBracketsOpenOnceAndCloseOnlyOnASuccessfulCommit) {
  COrvexAdapter adapter;
  Initialize(adapter);
  const std::string id = adapter.InstrumentationId();
  recordMark = Record().size();
  EXPECT_EQ(adapter.BeginDiscovery(2), 0);
  EXPECT_TRUE(Traced("Unable to establish the discovery type"));

  EXPECT_EQ(Handle(adapter, auralink::BEGINNOTIFICATION, "-", "-"), 1);
  EXPECT_EQ(Handle(adapter, auralink::BEGINNOTIFICATION, "-", "-"), 1);  // already open: no Java call
  EXPECT_TRUE(Traced("Discovery has been already initiated without committed"));
  EXPECT_EQ(NewRecords(), std::vector<std::string>{"beginDiscovery\t" + id + "\tDELTA_DISCOVERY\t-"});

  RequestFault("commitDiscovery", "queue manager unreachable");
  EXPECT_EQ(adapter.CommitDiscovery(), 0);
  ClearFault();
  EXPECT_TRUE(Traced("Unable to commit discovery. Exception thrown: queue manager unreachable"));
  EXPECT_TRUE(adapter.IsDiscoveryOpen());
  // An end notice inside a processing result commits.
  EXPECT_EQ(Handle(adapter, auralink::INSTANCECREATION, "end", "9\t-"), 1);
  EXPECT_TRUE(Traced("ProcessingObject called (ENDNOTIFICATION)"));
  EXPECT_FALSE(adapter.IsDiscoveryOpen());
  // Orvex refuses a commit with nothing open; the failure is reported, not hidden.
  EXPECT_EQ(adapter.CommitDiscovery(), 0);
  EXPECT_TRUE(Traced("Unable to commit discovery. Exception thrown: commitDiscovery refused: no discovery is open"));
}

TEST_F(JvmTest, AJavaExceptionWithoutAMessageIsReportedAsSuch) {
  COrvexAdapter adapter;
  Initialize(adapter);
  RequestFault("beginDiscovery", nullptr);
  EXPECT_EQ(adapter.BeginDiscovery(1), 0);
  ClearFault();
  EXPECT_TRUE(Traced("Unable to begin discovery: DELTA discovery. Exception thrown: No message got from Java"));
  EXPECT_FALSE(adapter.IsDiscoveryOpen());

  RequestFault("authenticate", "certificate expired");
  COrvexAdapter refused;
  refused.SetAgentName(kAgent);
  EXPECT_EQ(refused.Initialize(0, ""), 0);
  ClearFault();
  EXPECT_TRUE(Traced("Unable to authenticate. Exception thrown: certificate expired"));
}

TEST_F(JvmTest, TheBridgeTranslatesOnlyTheEndlessWaitAndCarriesAnyText) {
  COrvexAdapter adapter;
  Initialize(adapter);
  JavaBridge* bridge = JavaBridge::GetInstance("");
  const std::string id = adapter.InstrumentationId();
  recordMark = Record().size();
  const std::string text = "<name>caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x82\xAC</name>";  // beyond the basic plane too
  bridge->addObjectInstances(id, XmlTextParameter(text.c_str()), auralink::orvex::WAIT_RESPONSE_FOREVER);
  bridge->addObjectInstances(id, XmlTextParameter(text.c_str()), 30);
  EXPECT_EQ(NewRecords(), (std::vector<std::string>{"addObjectInstances\t" + id + "\t-1\t" + text,
                                                    "addObjectInstances\t" + id + "\t30\t" + text}));
  EXPECT_THROW(bridge->addLinkInstances(id, XmlTextParameter(nullptr), 6), AdapterException);
  EXPECT_THROW(bridge->commitDiscovery("ORX-unknown"), AdapterException);
}

// The stand-in checks each text as a server would before accepting it: whatever the
// processing classes make must pass, and a broken text must never reach the record.
TEST_F(JvmTest, TheStandInAcceptsWellFormedTextsOnlyAndRecordsNothingItRefuses) {
  COrvexAdapter adapter;
  Initialize(adapter);
  JavaBridge* bridge = JavaBridge::GetInstance("");
  const std::string id = adapter.InstrumentationId();
  recordMark = Record().size();
  const std::vector<std::string> wellFormed = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- made --><instance class=\"A\" id='1' note=\"a &amp; &quot;b&quot;\">"
      "<key name=\"k\">x &lt; y &#233; &#x1F600;</key><![CDATA[<raw> & ]]><?hint keep?><empty\t/></instance>\n",
      "<a:b x.y-z=\"\"\t>\xC3\xA9t\xC3\xA9</a:b><!-- after -->"};
  for (const std::string& text : wellFormed)
    EXPECT_NO_THROW(bridge->addObjectInstances(id, XmlTextParameter(text.c_str()), 30)) << text;
  EXPECT_EQ(NewRecords().size(), wellFormed.size());

  recordMark = Record().size();
  for (const char* broken : {"", "  ", "<a>", "<a></b>", "<a><b></a></b>", "<a/><b/>", "text<a/>", "<a/>text",
                             "<a b=\"1\" b=\"2\"/>", "<a b=1/>", "<a b=\"1\"c=\"2\"/>", "<a b=\"<\"/>",
                             "<a>x & y</a>", "<a>&nbsp;</a>", "<a>&#0;</a>", "<a>&#xD800;</a>", "<a>&#;</a>",
                             "<a>]]></a>", "<a><!-- x -- y --></a>", "<!DOCTYPE a><a/>", "<a><?xml version=\"1.0\"?></a>",
                             "<a><![CDATA[open</a>", "<1a/>", "<a>\x01</a>", "<a></a >x"}) {
    EXPECT_THROW(bridge->addObjectInstances(id, XmlTextParameter(broken), 30), AdapterException) << broken;
  }
  EXPECT_TRUE(NewRecords().empty());
}

TEST_F(JvmTest, ACallFromAnotherThreadAttachesItForTheCall) {
  COrvexAdapter adapter;
  Initialize(adapter);
  recordMark = Record().size();
  int result = -1;
  std::thread caller([&] { result = adapter.SendEvent(L"<event from=\"thread\"/>"); });
  caller.join();
  EXPECT_EQ(result, 1) << NewTrace();
  EXPECT_EQ(NewRecords().size(), 1u);
}

// Run in a process of its own, with APATH naming the archive that lacks
// NativeAdapterListener and EventsParameter.
TEST_F(JvmTest, ClassesMissingFromTheClassPathAreReportedAndTheRestWorks) {
  ::testing::internal::CaptureStdout();
  COrvexAdapter adapter;
  adapter.SetAgentName(kAgent);
  const int initialized = adapter.Initialize(0, "");
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(initialized, 1) << NewTrace() << out;
  for (const char* line : {"ERROR - java class EventsParameter not found\n",
                           "ERROR - java method EventsParameter::<init>(String xmlText) not found\n",
                           "ERROR - java class NativeAdapterListener not found\n",
                           "ERROR - java method NativeAdapterListener::<init>() not found\n",
                           "ERROR - java method NativeAdapterListener::removeNativePointer(:long) not found\n",
                           "ERROR - java method NativeAdapterListener::setNativePointer(:long) not found\n",
                           "ERROR - creation of the java object NativeAdapterListener failed\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  EXPECT_EQ(out.find("ERROR - java class InstancesParameter not found"), std::string::npos);

  EXPECT_EQ(adapter.SendEvent(L"<event/>"), 0);
  EXPECT_TRUE(Traced("Unable to send an event. Exception thrown: The java class EventsParameter is not bound"));
  EXPECT_EQ(adapter.AddInstance(auralink::platform::ToWide(kInstance)), 1);
}

}  // namespace
