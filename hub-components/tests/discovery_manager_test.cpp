// The discovery manager: one initialised discovery object per agent, parameter arrays,
// failures, and calls from several threads.
#include <windows.h>
#include <atlbase.h>
#include <auralink/hub_components.h>
#include <auralink/payload_arrays.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "hub_test_support.h"
#include <auralink/platform/text.h>

namespace auralink::testing {
namespace {

CDiscoveryManager* Manager() { return CDiscoveryManager::GetInstance(); }

std::string Fetch(const char* agent, const wchar_t* id, SAFEARRAY** parameters = nullptr, int* result = nullptr) {
  CComBSTR instance;
  int ok = Manager()->GetInstance(agent, CComBSTR(id), 1, parameters, &instance);
  if (result) *result = ok;
  return instance.ToNarrow();
}

std::vector<std::string> Enumerate(const char* agent, const wchar_t* classPath, SAFEARRAY** parameters) {
  LONG count = -1;
  PayloadArray ids;
  EXPECT_EQ(Manager()->EnumInstances(agent, CComBSTR(classPath), 3, parameters, &count, ids.Receive()), 1);
  std::vector<std::string> texts(static_cast<size_t>(count > 0 ? count : 0));
  for (LONG i = 0; i < count; ++i) GetStringElement(ids.Get(), i, &texts[static_cast<size_t>(i)]);
  EXPECT_EQ(ids.Count(), count);
  return texts;
}

TEST(DiscoveryManager, KeepsOneInitialisedObjectPerAgent) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("Alpha");
  sandbox.WriteFakeAgent("Beta");
  EXPECT_EQ(Fetch("Alpha", L"id-1"), "agent=Alpha|id=id-1|local=1|params=params=<none>|");
  EXPECT_EQ(Fetch("Alpha", L"id-2"), "agent=Alpha|id=id-2|local=1|params=params=<none>|");
  EXPECT_EQ(Enumerate("Alpha", L"Router", nullptr),
            (std::vector<std::string>{"agent=Alpha", "class=Router", "dip=3", "params=<none>"}));
  EXPECT_EQ(Fetch("Beta", L"id-3"), "agent=Beta|id=id-3|local=1|params=params=<none>|");
  EXPECT_EQ(sandbox.JournalCount("Discovery.Initialize Alpha"), 1);
  EXPECT_EQ(sandbox.JournalCount("Discovery.Initialize Beta"), 1);
  EXPECT_EQ(sandbox.JournalCount("Discovery.destroyed Alpha"), 0);
}

TEST(DiscoveryManager, VariantParametersBecomeBstrArrays) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("Params");
  PayloadArray parameters(CreatePayloadArray(4));
  PutStringElement(parameters.Get(), 0, "text");
  PutOperationElement(parameters.Get(), 1, 42);  // a VT_I4 becomes its decimal text
  // element 2 stays VT_EMPTY and becomes a null BSTR
  PutStringElement(parameters.Get(), 3, "");
  SAFEARRAY* array = parameters.Get();
  EXPECT_EQ(Fetch("Params", L"x", &array), "agent=Params|id=x|local=1|params=text,42,<null>,|");
  EXPECT_EQ(array, parameters.Get());  // the caller's array is neither replaced nor changed
  std::string first;
  GetStringElement(array, 0, &first);
  EXPECT_EQ(first, "text");

  std::vector<std::string> ids = Enumerate("Params", L"", &array);
  EXPECT_EQ(ids.size(), 7u);
  EXPECT_EQ(ids[6], "");

  SAFEARRAY* none = nullptr;
  EXPECT_EQ(Fetch("Params", L"y", &none), "agent=Params|id=y|local=1|params=params=<none>|");
}

TEST(DiscoveryManager, ParametersWithoutTextAreRefused) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("Picky");
  PayloadArray parameters(CreatePayloadArray(2));
  PutStringElement(parameters.Get(), 0, "text");
  SAFEARRAY* array = parameters.Get();
  LONG position = 1;
  CComVariant unknown(static_cast<IUnknown*>(nullptr));
  ASSERT_EQ(SafeArrayPutElement(array, &position, &unknown), S_OK);
  int result = -1;
  EXPECT_EQ(Fetch("Picky", L"x", &array, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_NE(sandbox.Trace().find("Agent Picky: parameter 1 has no text form"), std::string::npos) << sandbox.Trace();

  CComSafeArrayOwner strings(SafeArrayCreateVector(VT_BSTR, 0, 1));
  SAFEARRAY* stringArray = strings;
  EXPECT_EQ(Fetch("Picky", L"x", &stringArray, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_NE(sandbox.Trace().find("Agent Picky: the parameter set is not a one-dimensional array of VARIANT"),
            std::string::npos);
  EXPECT_EQ(sandbox.JournalCount("Discovery.Initialize Picky"), 0);
}

TEST(DiscoveryManager, FailuresAnswerZeroWithTheAgentAndTheCause) {
  HubSandbox sandbox;
  int result = -1;
  Fetch("Missing", L"x", nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_NE(sandbox.Trace().find("Agent Missing: no DiscoveryID in the key SOFTWARE\\Kestrova\\Auralink\\Missing"),
            std::string::npos)
      << sandbox.Trace();

  sandbox.WriteAgent("Unregistered", "0B7F3C0E-1111-4222-8333-944455566677", nullptr);
  Fetch("Unregistered", L"x", nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_NE(sandbox.Trace().find("Agent Unregistered: unable to create the class 0B7F3C0E-1111-4222-8333-944455566677"),
            std::string::npos);

  // A failed Initialize is traced, and the next call tries again.
  sandbox.WriteFakeAgent(kAgentFailingInitialize);
  Fetch(kAgentFailingInitialize, L"x", nullptr, &result);
  EXPECT_EQ(result, 0);
  Fetch(kAgentFailingInitialize, L"x", nullptr, &result);
  EXPECT_EQ(sandbox.JournalCount(std::string("Discovery.Initialize ") + kAgentFailingInitialize), 2);
  EXPECT_EQ(sandbox.JournalCount(std::string("Discovery.destroyed ") + kAgentFailingInitialize), 2);
  EXPECT_NE(sandbox.Trace().find("Agent FailInitialize: Initialize of the discovery class failed"), std::string::npos);

  // A failed call: what the class wrote stays for the caller.
  sandbox.WriteFakeAgent("Failing");
  EXPECT_EQ(Fetch("Failing", L"fail", nullptr, &result), "none");
  EXPECT_EQ(result, 0);
  EXPECT_NE(sandbox.Trace().find("Agent Failing: GetInstance of \"fail\" failed (hr = 0x80004005)"), std::string::npos);
  LONG count = -1;
  SAFEARRAY* ids = nullptr;
  EXPECT_EQ(Manager()->EnumInstances("Failing", CComBSTR(L"fail"), 0, nullptr, &count, &ids), 0);
  EXPECT_EQ(count, 99);
  EXPECT_EQ(ids, nullptr);
  EXPECT_NE(sandbox.Trace().find("Agent Failing: EnumInstances of the class \"fail\" failed"), std::string::npos);

  EXPECT_EQ(Manager()->EnumInstances(nullptr, nullptr, 0, nullptr, &count, &ids), 0);
  EXPECT_EQ(Manager()->GetInstance("", nullptr, 0, nullptr, nullptr), 0);
}

TEST(DiscoveryManager, CallsFromSeveralThreadsAreSerialisedPerAgent) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("Shared");
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      for (int i = 0; i < 50; ++i) {
        std::wstring id = L"t" + std::to_wstring(t) + L"-" + std::to_wstring(i);
        std::string expected = "agent=Shared|id=" + platform::ToNarrow(id) + "|local=1|params=params=<none>|";
        if (Fetch("Shared", id.c_str()) != expected) ++wrong;
      }
      CoUninitialize();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(sandbox.JournalCount("Discovery.Initialize Shared"), 1);
  EXPECT_EQ(sandbox.JournalCount("overlap"), 0);
}

TEST(DiscoveryManager, ShutdownTerminatesEveryObjectAndALaterCallStartsAfresh) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("EndA");
  sandbox.WriteFakeAgent("EndB");
  Fetch("EndA", L"1");
  Fetch("EndB", L"2");
  EXPECT_EQ(Manager()->Shutdown(), 1);
  for (std::string agent : {"EndA", "EndB"}) {
    EXPECT_NE(sandbox.Journal().find("Discovery.Terminate " + agent + "\nDiscovery.destroyed " + agent + "\n"),
              std::string::npos)
        << sandbox.Journal();
    EXPECT_NE(sandbox.Trace().find("Agent " + agent + ": discovery class terminated"), std::string::npos);
  }

  EXPECT_EQ(Fetch("EndA", L"3"), "agent=EndA|id=3|local=1|params=params=<none>|");
  EXPECT_EQ(sandbox.JournalCount("Discovery.Initialize EndA"), 2);
  EXPECT_EQ(Manager()->Shutdown(), 1);
  EXPECT_EQ(sandbox.JournalCount("Discovery.destroyed EndA"), 2);
  EXPECT_EQ(sandbox.JournalCount("Discovery.Terminate EndB"), 1);  // ended once, not again

  // A Terminate that fails is reported, and the object goes all the same.
  sandbox.WriteFakeAgent("EndFailTerminate");
  Fetch("EndFailTerminate", L"4");
  EXPECT_EQ(Manager()->Shutdown(), 0);
  EXPECT_EQ(sandbox.JournalCount("Discovery.destroyed EndFailTerminate"), 1);
  EXPECT_NE(sandbox.Trace().find("Agent EndFailTerminate: Terminate of the discovery class failed (hr = 0x80004005)"),
            std::string::npos);
}

TEST(DiscoveryManager, ShutdownWaitsForCallsUnderWay) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("Busy");
  std::atomic<bool> running{true};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      while (running) {
        if (Fetch("Busy", L"x") != "agent=Busy|id=x|local=1|params=params=<none>|") ++wrong;
      }
      CoUninitialize();
    });
  }
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(Manager()->Shutdown(), 1);
    Sleep(1);
  }
  running = false;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Manager()->Shutdown(), 1);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(sandbox.JournalCount("overlap"), 0);
  EXPECT_EQ(sandbox.JournalCount("Discovery.Initialize Busy"), sandbox.JournalCount("Discovery.destroyed Busy"));
}

}  // namespace
}  // namespace auralink::testing
