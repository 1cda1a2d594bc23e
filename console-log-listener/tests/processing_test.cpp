// "Marrowby.Processing" through COM: event streams become one event object each, and the
// registration notice builds the agent's object tree.
#include <windows.h>
#include <atlbase.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/instance.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>
#include <auralink/xml_converter.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include "listener_sandbox.h"

namespace marrowby::testing {
namespace {

namespace config = auralink::config;

struct Processed {
  HRESULT hr = E_UNEXPECTED;
  LONG opCount = 0;
  LONG objCount = 0;
  auralink::PayloadArray operations;
  auralink::PayloadArray objects;
};

class ProcessingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
    ASSERT_EQ(CreateByProgId(L"Marrowby.Processing", processing_), S_OK);
  }

  Processed Process(LONG operation, const char* stream) {
    Processed out;
    out.hr = processing_->ProcessingObject(operation, CComBSTR(""), CComBSTR(stream), &out.opCount,
                                           out.operations.Receive(), &out.objCount, out.objects.Receive());
    return out;
  }

  // The XML of an event holding the constant members and those `fill` sets.
  template <typename Fill>
  static std::string EventXml(Fill fill) {
    CInstance event;
    event.m_type = CInstance::TYPE_EVENT;
    event.m_eventCategory = "MSG";
    event.m_eventObjectClass = "SoftwareElement";
    fill(event);
    std::string xml;
    CXMLConverter().Convert(event, xml);
    return xml;
  }

  static std::string Object(const Processed& out) {
    std::string xml;
    EXPECT_EQ(auralink::GetStringElement(out.objects.Get(), 0, &xml), S_OK);
    return xml;
  }

  ListenerSandbox sandbox_;
  CComPtr<IProcessing> processing_;
};

TEST_F(ProcessingTest, EachStreamBecomesOneEventWithTheOperationAsReceived) {
  ASSERT_EQ(processing_->Initialize(CComBSTR("MarrowbyLst")), S_OK);

  Processed action = Process(12, "_GmtEpochTime=1796719310|action=remove|");
  ASSERT_EQ(action.hr, S_OK);
  ASSERT_EQ(action.opCount, 1);
  ASSERT_EQ(action.objCount, 1);
  LONG operation = 0;
  EXPECT_EQ(auralink::GetOperationElement(action.operations.Get(), 0, &operation), S_OK);
  EXPECT_EQ(operation, 12);
  EXPECT_EQ(Object(action), EventXml([](CInstance& e) {
              e.m_eventTime = "1796719310";
              e.m_eventAction = "remove";
            }));

  // A value keeps its "="; unknown keys, pairs without "=" and an unterminated last pair
  // change nothing; a key seen again wins.
  Processed record = Process(12, "_Description=a=b|colour=red|junk|type=T1|type=TNGmsg#4|_Status=FATAL");
  EXPECT_EQ(Object(record), EventXml([](CInstance& e) {
              e.m_eventDescription = "a=b";
              e.m_eventType = "TNGmsg#4";
            }));

  Processed empty = Process(12, "");
  EXPECT_EQ(empty.hr, S_OK);
  EXPECT_EQ(Object(empty), EventXml([](CInstance&) {}));
  EXPECT_EQ(processing_->Terminate(), S_OK);
}

TEST_F(ProcessingTest, TheRegistrationNoticeBuildsTheObjectTreeWithTheConfiguredMask) {
  const std::string classes = sandbox_.Sandbox().Path("tng.scl");
  auralink::testing::TestSandbox::WriteFile(classes, "class Network Network\nclass Host ComputerSystem\n"
                                                     "class SoftwareElement SoftwareElement\n"
                                                     "link Host Network MemberOf\nlink SoftwareElement Host RunsOn\n");
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  repository->SetStr(config::InstrumentationKey("MarrowbyLst").c_str(), config::kInstrumentationClassesFile,
                     classes.c_str());
  const std::string eventListening = config::EventListeningKey("MarrowbyLst");
  for (const char* mask : {"255.0.255.0", "255.255.255.0"}) {  // refused, then accepted
    repository->SetStr(eventListening.c_str(), "SubnetMask", mask);
    ASSERT_EQ(processing_->Initialize(CComBSTR("MarrowbyLst")), S_OK);
    Processed tree = Process(13, "-");
    EXPECT_EQ(tree.hr, mask[4] == '0' ? E_FAIL : S_OK) << mask << sandbox_.Trace();
    EXPECT_EQ(tree.objCount, mask[4] == '0' ? 0 : 5) << mask;
  }
  EXPECT_EQ(sandbox_.TraceCount("Unable to make tree"), 1);
  // Later events point at the manager element the tree made.
  EXPECT_NE(Object(Process(12, "type=x|")).find("objectId=\"TNGEventManager@"), std::string::npos);
}

}  // namespace
}  // namespace marrowby::testing
