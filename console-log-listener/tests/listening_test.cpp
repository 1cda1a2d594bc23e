// "Marrowby.Listening" through COM and through the hub's listening manager: one thread
// per readable log, messages indicated once to a subscriber across a restart, and a prompt
// stop.
#include <atlbase.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/hub_components.h>
#include <auralink/hub_sink.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>
#include <auralink/processing_manager.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <cstdlib>
#include <mutex>

#include "listener_sandbox.h"

namespace marrowby::testing {
namespace {

namespace config = auralink::config;

void WriteLog(const std::string& agent, const std::string& log, const char* refreshTime, const char* msgFilter) {
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  const std::string key = config::EventLogKey(agent, log);
  repository->SetStr(key.c_str(), "RefreshTime", refreshTime);
  repository->SetStr(key.c_str(), "LastRefresh", "");
  repository->SetStr(key.c_str(), "StartMode", "warm");
  if (msgFilter) repository->SetStr(key.c_str(), "MsgFilter", msgFilter);
  repository->SetNum(key.c_str(), "LastMsgNr", 0);
}

// A sink on the utility library's sink base, keeping each item's stream.
class StreamSink : public CHubSink {
 public:
  int HandleOperation(LONG operation, BSTR id, BSTR stream) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (operation == 7) streams_.push_back(auralink::platform::BstrToNarrow(stream));
    SysFreeString(id);
    SysFreeString(stream);
    return 1;
  }
  std::vector<std::string> Streams() {
    std::lock_guard<std::mutex> lock(mutex_);
    return streams_;
  }
  int Count(const std::string& text) {
    int count = 0;
    for (const std::string& stream : Streams()) count += stream.find(text) != std::string::npos;
    return count;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> streams_;
};

class ListeningTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CallModule("DllRegisterServer"), S_OK); }

  ListenerSandbox sandbox_;
};

TEST_F(ListeningTest, InitializeMakesOneThreadPerLogUntilALogLacksAValue) {
  WriteLog("TestAgent", "Log1", "10", "a");
  WriteLog("TestAgent", "Log2", "60", nullptr);
  WriteLog("TestAgent", "Log3", "60", "a");
  CComPtr<IListening> listening;
  ASSERT_EQ(CreateByProgId(L"Marrowby.Listening", listening), S_OK);
  EXPECT_EQ(listening->Initialize(CComBSTR("TestAgent")), E_FAIL);
  EXPECT_EQ(sandbox_.TraceCount("It was specified a too low refresh time for the log Log1. It will be set to 30"), 1);
  EXPECT_EQ(sandbox_.TraceCount("msgFilter value cannot be obtained for listening to log Log2 (agent TestAgent)"), 1);
  EXPECT_EQ(sandbox_.TraceCount("Listening on the log Log3"), 0);

  EXPECT_EQ(listening->Start(), S_OK);
  EXPECT_EQ(sandbox_.TraceCount("Starting the Log Thread"), 1);
  EXPECT_EQ(listening->Stop(), S_OK);
  EXPECT_EQ(listening->Terminate(), S_OK);
  EXPECT_EQ(listening->Terminate(), S_OK);  // nothing left to stop

  CComPtr<IListening> idle;
  ASSERT_EQ(CreateByProgId(L"Marrowby.Listening", idle), S_OK);
  EXPECT_EQ(idle->Initialize(CComBSTR("NoLogsAgent")), S_OK);
  EXPECT_EQ(idle->Start(), S_OK);
  EXPECT_EQ(idle->Terminate(), S_OK);
  EXPECT_EQ(sandbox_.TraceCount("Starting the Log Thread"), 1);
}

// The registered agent with the date filter: what a subscriber gets is every message once,
// numbered on across a restart, and the listening stops promptly with the last subscriber.
TEST_F(ListeningTest, ASubscriberGetsEveryNewMessageOnceAcrossARestart) {
  const std::string log = config::EventLogKey("MarrowbyLst", "TNGlog");
  const std::time_t start = std::time(nullptr);
  CConfRepositoryManager::GetInstance()->SetStr(log.c_str(), "MsgFilter", "d");
  CConfRepositoryManager::GetInstance()->SetStr(log.c_str(), "LastRefresh", std::to_string(start - 60).c_str());
  sandbox_.AddMessage(start - 20, "host1", "admin", "ABC_I_1: first");
  sandbox_.AddMessage(start - 10, "host1", "admin", "ABC_W_2: second");

  StreamSink sink;
  CListeningManager* manager = CListeningManager::GetInstance();
  LONG cid = 0;
  ASSERT_TRUE(manager->Subscribe("MarrowbyLst", &sink, &cid));
  ASSERT_TRUE(WaitFor([&] { return sink.Count("type=TNGmsg#") == 2; }));
  auto stopAsked = std::chrono::steady_clock::now();
  ASSERT_TRUE(manager->Unsubscribe(cid));  // the last subscriber: Stop and Terminate
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::milliseconds(1000));

  // The saved window starts where the stopped one ended: a message of that second is new.
  char savedStart[260] = "";
  DWORD size = sizeof savedStart;
  DWORD savedNumber = 0;
  ASSERT_TRUE(CConfRepositoryManager::GetInstance()->ReadStr(log.c_str(), "LastRefresh", nullptr, savedStart, &size));
  ASSERT_TRUE(CConfRepositoryManager::GetInstance()->ReadNum(log.c_str(), "LastMsgNr", nullptr, &savedNumber, nullptr));
  EXPECT_EQ(savedNumber, 2u);
  sandbox_.AddMessage(std::atoll(savedStart), "host2", "oper", "ABC_E_3: third");
  ASSERT_TRUE(manager->Subscribe("MarrowbyLst", &sink, &cid));
  ASSERT_TRUE(WaitFor([&] { return sink.Count("type=TNGmsg#") == 3; }));
  ASSERT_TRUE(manager->Unsubscribe(cid));

  EXPECT_EQ(sink.Count("host1, admin, ABC_I_1: first|type=TNGmsg#1|_Status=INFORMATIONAL|"), 1);
  EXPECT_EQ(sink.Count("host1, admin, ABC_W_2: second|type=TNGmsg#2|_Status=WARNING|"), 1);
  EXPECT_EQ(sink.Count("host2, oper, ABC_E_3: third|type=TNGmsg#3|_Status=CRITICAL|"), 1);
  EXPECT_EQ(sink.Count("action="), 0);  // a warm start with the date filter keeps what Orvex has
  EXPECT_EQ(sandbox_.DumpFilesLeft(), 0);

  // A cold start tells the subscriber, from inside Start, to drop what it had, and numbers
  // afresh.
  CConfRepositoryManager::GetInstance()->SetStr(log.c_str(), "StartMode", "cold");
  StreamSink coldSink;
  ASSERT_TRUE(manager->Subscribe("MarrowbyLst", &coldSink, &cid));
  ASSERT_TRUE(WaitFor([&] { return coldSink.Count("|action=remove|") == 1; }));
  ASSERT_TRUE(manager->Unsubscribe(cid));
  EXPECT_EQ(coldSink.Count("type=TNGmsg#"), 0);  // the window starts at the start

  // What the discovery tool's sink does with an item: the processing class makes its XML.
  LONG opCount = 0, objCount = 0;
  auralink::PayloadArray operations, objects;
  ASSERT_TRUE(CProcessingManager::GetInstance()->ProcessingObject("MarrowbyLst", 12, "", sink.Streams()[2].c_str(),
                                                                  &opCount, operations.Receive(), &objCount,
                                                                  objects.Receive()));
  std::string xml;
  ASSERT_EQ(auralink::GetStringElement(objects.Get(), 0, &xml), S_OK);
  EXPECT_NE(xml.find("description=\"host2, oper, ABC_E_3: third\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("status=\"CRITICAL\""), std::string::npos) << xml;
}

}  // namespace
}  // namespace marrowby::testing
