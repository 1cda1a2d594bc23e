// The processing manager against a test processing class registered in a private
// registry: creation through "ProcessingID", one object per agent, the arrays handed back,
// declined objects and every kind of failure.
#include <auralink/config_keys.h>
#include <auralink/conf_repository.h>
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>
#include <auralink/processing_manager.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <test_sandbox.h>
#include <module_function.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "test_processing_ids.h"
#include <auralink/platform/error_text.h>
#include <auralink/platform/guid_text.h>

using auralink::testing::TestSandbox;
namespace config = auralink::config;

namespace {

typedef HRESULT(STDAPICALLTYPE* RegisterFunction)();

// The module's classes as apartment-threaded servers, with its type library, through which
// COM marshals IProcessing to a thread of another apartment.
void RegisterTestModule() {
  HMODULE module = LoadLibraryA(AURALINK_TEST_PROCESSING_MODULE);
  ASSERT_TRUE(module);
  auto registerServer = auralink::testing::ModuleFunction<RegisterFunction>(module, "DllRegisterServer");
  ASSERT_TRUE(registerServer);
  ASSERT_EQ(registerServer(), S_OK);
}

// What one ProcessingObject call gave back.
struct Outcome {
  int result = -1;
  LONG opCount = 77;
  LONG objCount = 77;
  auralink::PayloadArray operations;
  auralink::PayloadArray objects;
  std::string Object(LONG i) const {
    std::string text;
    auralink::GetStringElement(objects.Get(), i, &text);
    return text;
  }
  LONG Operation(LONG i) const {
    LONG code = -1;
    auralink::GetOperationElement(operations.Get(), i, &code);
    return code;
  }
};

Outcome Process(const char* agent, LONG operation, const char* id, const char* stream) {
  Outcome outcome;
  outcome.result = CProcessingManager::GetInstance()->ProcessingObject(
      agent, operation, id, stream, &outcome.opCount, outcome.operations.Receive(), &outcome.objCount,
      outcome.objects.Receive());
  return outcome;
}

class ProcessingManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    RegisterTestModule();
    CTraceUtils::GetInstance()->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, -1);
  }
  void TearDown() override {
    CTraceUtils::GetInstance()->Close();
    CoUninitialize();
  }
  // Agents are kept for the life of the process, so each test names its own.
  void Configure(const char* agent, const std::string& processingId) {
    CConfRepositoryManager::GetInstance()->SetStr(config::AgentKey(agent).c_str(), config::kProcessingId,
                                                  processingId.c_str());
  }
  void Configure(const char* agent, REFCLSID clsid) { Configure(agent, auralink::platform::GuidToString(clsid, false)); }
  std::string Trace() const { return TestSandbox::ReadFile(sandbox.TraceFile()); }

  TestSandbox sandbox;
};

TEST_F(ProcessingManagerTest, ForwardsToOneObjectPerAgentAndHandsBackTheArrays) {
  Configure("AgentA", CLSID_TestProcessing);
  Configure("AgentB", CLSID_TestProcessing);
  Outcome outcome = Process("AgentA", auralink::INSTANCECREATION, "id-1", "name=host|");
  ASSERT_EQ(outcome.result, 1) << Trace();
  EXPECT_EQ(outcome.opCount, 2);
  EXPECT_EQ(outcome.objCount, 2);
  EXPECT_EQ(outcome.Operation(0), auralink::INSTANCECREATION);
  EXPECT_EQ(outcome.Operation(1), auralink::EVENTNOTIFICATION);
  EXPECT_EQ(outcome.Object(0).rfind("AgentA|id-1|name=host||initialized 1|objects 1", 0), 0u) << outcome.Object(0);
  EXPECT_EQ(outcome.Object(1), "<event/>");

  // The agent's object is kept and initialised once; another agent gets its own.
  EXPECT_EQ(Process("AgentA", 2, "b", "").Object(0), "AgentA|b||initialized 1|objects 1");
  EXPECT_EQ(Process("AgentB", 1, "c", "").Object(0), "AgentB|c||initialized 1|objects 2");
}

TEST_F(ProcessingManagerTest, ADeclinedObjectIsASuccessWithoutOperations) {
  Configure("AgentDecline", CLSID_TestProcessing);
  Outcome outcome = Process("AgentDecline", 1, "decline", "x=y|");
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.opCount, 0);
  EXPECT_EQ(outcome.objCount, 0);
  EXPECT_FALSE(outcome.operations);
  EXPECT_FALSE(outcome.objects);
}

TEST_F(ProcessingManagerTest, AFailingCallLeavesTheOutputsAlone) {
  Configure("AgentFail", CLSID_TestProcessing);
  Outcome outcome = Process("AgentFail", 1, "fail", "");
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.opCount, 77);
  EXPECT_EQ(outcome.objCount, 77);
  EXPECT_FALSE(outcome.objects);  // the half-made array was destroyed by the manager
  EXPECT_NE(Trace().find("0x80004005"), std::string::npos) << Trace();
  EXPECT_EQ(Process("AgentFail", 1, "fine", "").result, 1);  // the object stays usable
}

TEST_F(ProcessingManagerTest, ClassesThatCannotBeReachedGiveZeroAndATraceLine) {
  EXPECT_EQ(Process("AgentWithoutKey", 1, "x", "").result, 0);
  EXPECT_NE(Trace().find("Agent AgentWithoutKey: no ProcessingID in the key"), std::string::npos) << Trace();

  Configure("AgentGarbage", "not-a-class");
  EXPECT_EQ(Process("AgentGarbage", 1, "x", "").result, 0);
  EXPECT_NE(Trace().find("the ProcessingID \"not-a-class\" is not a class identifier"), std::string::npos) << Trace();

  Configure("AgentUnregistered", "11111111-2222-3333-4444-555555555555");
  EXPECT_EQ(Process("AgentUnregistered", 1, "x", "").result, 0);
  EXPECT_NE(Trace().find("Agent AgentUnregistered: unable to create the class 11111111-2222-3333-4444-555555555555 "
                         "of its ProcessingID (hr = 0x80040154)"),
            std::string::npos)
      << Trace();

  Configure("AgentUninitializable", CLSID_TestUninitializableProcessing);
  EXPECT_EQ(Process("AgentUninitializable", 1, "x", "").result, 0);
  EXPECT_NE(Trace().find("Unable to initialize the processing class"), std::string::npos) << Trace();

  // Nothing is kept after a failed creation: once configured, the agent works.
  Configure("AgentUnregistered", CLSID_TestProcessing);
  EXPECT_EQ(Process("AgentUnregistered", 1, "x", "").result, 1);

  EXPECT_EQ(CProcessingManager::GetInstance()->ProcessingObject("AgentUnregistered", 1, "x", "", nullptr, nullptr,
                                                                nullptr, nullptr),
            0);
}

// How many test processing objects exist, and how many Terminate calls they had.
struct Counts {
  int live = -1;
  int terminations = -1;
};

Counts TestProcessingCounts() {
  Counts counts;
  HMODULE module = LoadLibraryA(AURALINK_TEST_PROCESSING_MODULE);  // loaded already by the COM runtime
  auto function = module ? auralink::testing::ModuleFunction<TestProcessingCountsFunction>(
                               module, TEST_PROCESSING_COUNTS_FUNCTION)
                         : nullptr;
  if (function) function(&counts.live, &counts.terminations);
  return counts;
}

TEST_F(ProcessingManagerTest, ShutdownTerminatesAndReleasesEveryObjectAndALaterCallStartsAfresh) {
  Configure("AgentEndA", CLSID_TestProcessing);
  Configure("AgentEndB", CLSID_TestProcessing);
  ASSERT_EQ(Process("AgentEndA", 1, "a", "").result, 1);
  ASSERT_EQ(Process("AgentEndB", 1, "b", "").result, 1);
  Counts before = TestProcessingCounts();
  ASSERT_GE(before.live, 2);

  EXPECT_EQ(CProcessingManager::GetInstance()->Shutdown(), 1);
  Counts after = TestProcessingCounts();
  EXPECT_EQ(after.live, 0);
  EXPECT_EQ(after.terminations - before.terminations, before.live);
  EXPECT_NE(Trace().find("Processing class of the agent AgentEndA terminated"), std::string::npos) << Trace();

  // The next call makes a new object, initialised once; a second shutdown ends it too.
  EXPECT_EQ(Process("AgentEndA", 2, "c", "").Object(0), "AgentEndA|c||initialized 1|objects 1");
  EXPECT_EQ(CProcessingManager::GetInstance()->Shutdown(), 1);
  EXPECT_EQ(TestProcessingCounts().live, 0);

  // A Terminate that fails is reported, and the object is released all the same.
  Configure("AgentFailTerminate", CLSID_TestProcessing);
  ASSERT_EQ(Process("AgentFailTerminate", 1, "d", "").result, 1);
  EXPECT_EQ(CProcessingManager::GetInstance()->Shutdown(), 0);
  EXPECT_EQ(TestProcessingCounts().live, 0);
  EXPECT_NE(Trace().find("Terminate of the processing class of the agent AgentFailTerminate failed (hr = 0x80004005)"),
            std::string::npos);
  EXPECT_EQ(CProcessingManager::GetInstance()->Shutdown(), 1);  // nothing left to end
}

TEST_F(ProcessingManagerTest, AThreadWithoutComGetsZeroWithTheReason) {
  Configure("AgentNoCom", CLSID_TestProcessing);
  int result = -1;
  std::thread([&] { result = Process("AgentNoCom", 1, "x", "").result; }).join();
  EXPECT_EQ(result, 0);
  // The reason is the Linux platform's own text there, the system's message on Windows
  // (which Wine lacks for this code: "Unknown error").
#ifdef _WIN32
  const std::string reason = auralink::platform::ErrorMessageText(static_cast<DWORD>(CO_E_NOTINITIALIZED));
#else
  const std::string reason = "COM is not initialised";
#endif
  EXPECT_NE(Trace().find("(hr = 0x800401F0): " + reason), std::string::npos) << Trace();
}

TEST_F(ProcessingManagerTest, ThreadsShareTheAgentsObject) {
  Configure("AgentThreads", CLSID_TestProcessing);
  const int threads = 6;
  std::vector<std::string> reports(threads * 20);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, &reports] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      for (int i = 0; i < 20; ++i) {
        std::string id = std::to_string(t) + "-" + std::to_string(i);
        reports[t * 20 + i] = Process("AgentThreads", 1, id.c_str(), "").Object(0);
      }
      CoUninitialize();
    });
  }
  for (auto& worker : workers) worker.join();
  for (const auto& report : reports) EXPECT_NE(report.find("|initialized 1|"), std::string::npos) << report;
}

}  // namespace
