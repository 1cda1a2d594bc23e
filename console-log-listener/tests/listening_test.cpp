// "Marrowby.Listening" through COM and through the hub's listening manager: one thread
// per readable log, messages indicated once to a subscriber across a restart, and a prompt
// stop.
#include <windows.h>
#include <atlbase.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/hub_components.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>
#include <auralink/processing_manager.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <cstdlib>

#include "listener_sandbox.h"
#include "recording_sink.h"

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

// Items of `sink` whose stream holds `text`.
int Count(auralink::testing::RecordingSink& sink, const std::string& text) {
  int count = 0;
  for (const auto& item : sink.Items()) count += item.operation == 7 && item.object.find(text) != std::string::npos;
  return count;
}

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

  auralink::testing::RecordingSink sink;
  CListeningManager* manager = CListeningManager::GetInstance();
  LONG cid = 0;
  ASSERT_TRUE(manager->Subscribe("MarrowbyLst", &sink, &cid));
  ASSERT_TRUE(WaitFor([&] { return Count(sink, "type=TNGmsg#") == 2; }));
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
  while (std::time(nullptr) < std::atoll(savedStart)) Sleep(50);  // a window that has begun
  ASSERT_TRUE(manager->Subscribe("MarrowbyLst", &sink, &cid));
  ASSERT_TRUE(WaitFor([&] { return Count(sink, "type=TNGmsg#") == 3; }));
  ASSERT_TRUE(manager->Unsubscribe(cid));

  EXPECT_EQ(Count(sink, "host1, admin, ABC_I_1: first|type=TNGmsg#1|_Status=INFORMATIONAL|"), 1);
  EXPECT_EQ(Count(sink, "host1, admin, ABC_W_2: second|type=TNGmsg#2|_Status=WARNING|"), 1);
  EXPECT_EQ(Count(sink, "host2, oper, ABC_E_3: third|type=TNGmsg#3|_Status=CRITICAL|"), 1);
  EXPECT_EQ(Count(sink, "action="), 0);  // a warm start with the date filter keeps what Orvex has
  EXPECT_EQ(sandbox_.DumpFilesLeft(), 0);

  // A cold start tells the subscriber, from inside Start, to drop what it had, and numbers
  // afresh.
  CConfRepositoryManager::GetInstance()->SetStr(log.c_str(), "StartMode", "cold");
  auralink::testing::RecordingSink coldSink;
  ASSERT_TRUE(manager->Subscribe("MarrowbyLst", &coldSink, &cid));
  ASSERT_TRUE(WaitFor([&] { return Count(coldSink, "|action=remove|") == 1; }));
  ASSERT_TRUE(manager->Unsubscribe(cid));
  EXPECT_EQ(Count(coldSink, "type=TNGmsg#"), 0);  // the window starts at the start

  // What the discovery tool's sink does with an item: the processing class makes its XML.
  LONG opCount = 0, objCount = 0;
  auralink::PayloadArray operations, objects;
  ASSERT_TRUE(CProcessingManager::GetInstance()->ProcessingObject("MarrowbyLst", 12, "", sink.Items()[2].object.c_str(),
                                                                  &opCount, operations.Receive(), &objCount,
                                                                  objects.Receive()));
  std::string xml;
  ASSERT_EQ(auralink::GetStringElement(objects.Get(), 0, &xml), S_OK);
  EXPECT_NE(xml.find("description=\"host2, oper, ABC_E_3: third\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("status=\"CRITICAL\""), std::string::npos) << xml;
}

}  // namespace
}  // namespace marrowby::testing
