// "Touchpoint.Hub" through COM: registration, the agent-name guard, forwarding to the hub
// components (behind which the stand-in agent server answers), identity and lifetime.
#include <windows.h>
#include <atlbase.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>
#include <gtest/gtest.h>
#include <module_function.h>
#include <objbase.h>
#include <windows.h>

#include "hub_test_support.h"
#include "recording_sink.h"
#include <auralink/platform/guid_text.h>

namespace auralink::testing {
namespace {

constexpr const char* kGuardMessage =
    "Hub: Operation cannot be executed. Agent name must be set before executing the operation";

typedef HRESULT(STDAPICALLTYPE* EntryPoint)();

// The sandbox with Touchpoint registered into it. The test thread is a single-threaded
// apartment, the hub's own (it is apartment-threaded): calls reach it directly, as they do
// a program's, and not through COM's marshalling, which refuses null and made-up pointers
// before the hub sees them.
class HubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(TOUCHPOINT_MODULE);
    ASSERT_TRUE(module_);
    auto registerServer = auralink::testing::ModuleFunction<EntryPoint>(module_, "DllRegisterServer");
    ASSERT_TRUE(registerServer);
    ASSERT_EQ(registerServer(), S_OK);
  }

  CComPtr<IHub> CreateHub(const char* agent = nullptr) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(L"Touchpoint.Hub", &clsid), S_OK);
    CComPtr<IHub> hub;
    EXPECT_EQ(hub.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER), S_OK);
    if (hub && agent) {
      EXPECT_EQ(hub->SetAgentName(CComBSTR(agent)), S_OK);
    }
    return hub;
  }

  int Occurrences(const std::string& text) {
    std::string trace = sandbox_.Trace();
    int count = 0;
    for (size_t at = trace.find(text); at != std::string::npos; at = trace.find(text, at + 1)) ++count;
    return count;
  }

  std::string RegistryValue(const std::string& key, const char* name) {
    CRegKey open;
    std::string value;
    if (open.Open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ) != ERROR_SUCCESS) return "<no key>";
    if (open.QueryStringValue(name, value) != ERROR_SUCCESS) return "<no value>";
    return value;
  }

  HubSandbox sandbox_{COINIT_APARTMENTTHREADED};
  HMODULE module_ = nullptr;
};

TEST_F(HubTest, RegistrationDescribesTheClassAndItsTypeLibrary) {
  std::string clsid = platform::GuidToString(CLSID_TouchpointHub);
  std::string classKey = "CLSID\\" + clsid;
  EXPECT_EQ(RegistryValue("Touchpoint.Hub", nullptr), "Hub Class");
  EXPECT_EQ(RegistryValue("Touchpoint.Hub\\CurVer", nullptr), "Touchpoint.Hub.1");
  EXPECT_EQ(RegistryValue("Touchpoint.Hub.1\\CLSID", nullptr), clsid);
  EXPECT_EQ(RegistryValue(classKey, nullptr), "Hub Class");
  EXPECT_EQ(RegistryValue(classKey + "\\ProgID", nullptr), "Touchpoint.Hub.1");
  EXPECT_EQ(RegistryValue(classKey + "\\VersionIndependentProgID", nullptr), "Touchpoint.Hub");
  EXPECT_NE(RegistryValue(classKey + "\\Programmable", "x"), "<no key>");
  EXPECT_EQ(RegistryValue(classKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
  char loaded[MAX_PATH] = "";
  ASSERT_NE(GetModuleFileNameA(module_, loaded, sizeof loaded), 0u);
  EXPECT_EQ(RegistryValue(classKey + "\\InprocServer32", nullptr), loaded);
  std::string libid = platform::GuidToString(LIBID_DUVIZAREZEZaz);
  EXPECT_EQ(RegistryValue(classKey + "\\TypeLib", nullptr), libid);
  EXPECT_EQ(RegistryValue("TypeLib\\" + libid + "\\1.0", nullptr), "Touchpoint 1.0 Type Library");

  auto unregisterServer = auralink::testing::ModuleFunction<EntryPoint>(module_, "DllUnregisterServer");
  ASSERT_EQ(unregisterServer(), S_OK);
  EXPECT_EQ(RegistryValue("Touchpoint.Hub", nullptr), "<no key>");
  EXPECT_EQ(RegistryValue(classKey, nullptr), "<no key>");
  EXPECT_EQ(RegistryValue("TypeLib\\" + libid, nullptr), "<no key>");
}

TEST_F(HubTest, NothingIsForwardedBeforeAnAgentNameIsSet) {
  sandbox_.WriteFakeAgent("Guarded");
  CComPtr<IHub> hub = CreateHub();
  ASSERT_TRUE(hub);
  LONG count = 17;
  SAFEARRAY* sentinel = reinterpret_cast<SAFEARRAY*>(0x1);
  SAFEARRAY* ids = sentinel;
  EXPECT_EQ(hub->EnumInstances(CComBSTR(L""), 0, nullptr, &count, &ids), E_FAIL);
  EXPECT_EQ(count, 17);
  EXPECT_EQ(ids, sentinel);
  EXPECT_EQ(Occurrences(kGuardMessage), 1);

  BSTR instance = reinterpret_cast<BSTR>(0x2);
  EXPECT_EQ(hub->GetInstance(CComBSTR(L"x"), 0, nullptr, &instance), E_FAIL);
  EXPECT_EQ(instance, reinterpret_cast<BSTR>(0x2));
  RecordingSink sink;
  LONG cid = -5;
  EXPECT_EQ(hub->Subscribe(&sink, &cid), E_FAIL);
  EXPECT_EQ(cid, -5);
  EXPECT_EQ(sink.references, 0u);
  EXPECT_EQ(hub->Unsubscribe(1), E_FAIL);
  EXPECT_EQ(Occurrences(kGuardMessage), 4);
  EXPECT_NE(sandbox_.Trace().find("Hub: Inside of CHub::Unsubscribe (agentName )"), std::string::npos);
  // Neither manager was reached.
  EXPECT_EQ(sandbox_.Trace().find("ListeningManager"), std::string::npos);
  EXPECT_EQ(sandbox_.Trace().find("DiscoveryManager"), std::string::npos);

  // A null name (or an empty one) puts the hub back into that state; blanks are a name.
  EXPECT_EQ(hub->SetAgentName(CComBSTR(L"Guarded")), S_OK);
  EXPECT_EQ(hub->SetAgentName(nullptr), S_OK);
  EXPECT_NE(sandbox_.Trace().find("Hub: The agent name was set to \n"), std::string::npos);
  EXPECT_EQ(hub->EnumInstances(CComBSTR(L""), 0, nullptr, &count, &ids), E_FAIL);
  EXPECT_EQ(Occurrences(kGuardMessage), 5);
  EXPECT_EQ(hub->SetAgentName(CComBSTR(L" ")), S_OK);
  EXPECT_EQ(hub->Unsubscribe(1), E_FAIL);  // reaches the manager, which knows no such cid
  EXPECT_EQ(Occurrences(kGuardMessage), 5);
  EXPECT_NE(sandbox_.Trace().find("ListeningManager: Unsubscribe: no subscription 1"), std::string::npos);
}

TEST_F(HubTest, CallsGoThroughWithTheHubsOwnAgentName) {
  sandbox_.WriteFakeAgent("HubA");
  sandbox_.WriteFakeAgent("HubB");
  CComPtr<IHub> first = CreateHub("HubA");
  CComPtr<IHub> second = CreateHub("HubB");
  ASSERT_TRUE(first && second);
  EXPECT_NE(sandbox_.Trace().find("Hub: The agent name was set to HubA"), std::string::npos);

  PayloadArray parameters(CreatePayloadArray(1));
  PutStringElement(parameters.Get(), 0, "p");
  SAFEARRAY* parameterArray = parameters.Get();
  CComBSTR instance;
  EXPECT_EQ(first->GetInstance(CComBSTR(L"id-7"), 1, &parameterArray, &instance), S_OK);
  EXPECT_EQ(instance.ToNarrow(), "agent=HubA|id=id-7|local=1|params=p|");
  CComBSTR other;
  EXPECT_EQ(second->GetInstance(CComBSTR(L"id-8"), 0, nullptr, &other), S_OK);
  EXPECT_EQ(other.ToNarrow(), "agent=HubB|id=id-8|local=0|params=params=<none>|");

  LONG count = 0;
  PayloadArray ids;
  EXPECT_EQ(second->EnumInstances(CComBSTR(L"Router"), 4, nullptr, &count, ids.Receive()), S_OK);
  ASSERT_EQ(count, 4);
  std::string text;
  GetStringElement(ids.Get(), 0, &text);
  EXPECT_EQ(text, "agent=HubB");
  GetStringElement(ids.Get(), 2, &text);
  EXPECT_EQ(text, "dip=4");

  // A failing manager call gives E_FAIL and leaves what was written for the caller.
  count = 0;
  SAFEARRAY* none = nullptr;
  EXPECT_EQ(first->EnumInstances(CComBSTR(L"fail"), 0, nullptr, &count, &none), E_FAIL);
  EXPECT_EQ(count, 99);
  CComBSTR failed;
  EXPECT_EQ(first->GetInstance(CComBSTR(L"fail"), 0, nullptr, &failed), E_FAIL);
  EXPECT_EQ(failed.ToNarrow(), "none");
  EXPECT_EQ(sandbox_.JournalCount("Discovery.Initialize HubA"), 1);
  EXPECT_EQ(sandbox_.JournalCount("Discovery.Initialize HubB"), 1);
  EXPECT_NE(sandbox_.Trace().find("Hub: Inside of CHub::GetInstance"), std::string::npos);
  EXPECT_NE(sandbox_.Trace().find("Hub: Inside of CHub::EnumInstances"), std::string::npos);
}

TEST_F(HubTest, SubscribersReceiveTheAgentsIndications) {
  sandbox_.WriteFakeAgent("TickingHub");
  CComPtr<IHub> hub = CreateHub("TickingHub");
  ASSERT_TRUE(hub);
  RecordingSink sink;
  LONG cid = 0;
  ASSERT_EQ(hub->Subscribe(&sink, &cid), S_OK);
  EXPECT_GT(cid, 0);
  EXPECT_NE(sandbox_.Trace().find("Hub: Inside of CHub::Subscribe"), std::string::npos);
  ASSERT_TRUE(WaitFor([&] { return sink.calls >= 3; }));
  EXPECT_EQ(hub->Unsubscribe(cid), S_OK);
  EXPECT_EQ(sink.references, 0u);
  std::vector<IndicatedItem> items = sink.Items();
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items[0].operation, 7);
  EXPECT_EQ(items[0].object, "tick 0");  // the subscription was in place before the class started
  EXPECT_EQ(hub->Unsubscribe(cid), E_FAIL);
  EXPECT_EQ(sandbox_.JournalCount("Listening.destroyed TickingHub"), 1);

  sandbox_.WriteAgent("NoListener", nullptr, nullptr);
  CComPtr<IHub> silent = CreateHub("NoListener");
  EXPECT_EQ(silent->Subscribe(&sink, &cid), E_FAIL);
}

TEST_F(HubTest, AnswersItsOwnInterfacesOnly) {
  CComPtr<IHub> hub = CreateHub();
  ASSERT_TRUE(hub);
  CComPtr<IUnknown> unknown;
  CComPtr<IDispatch> dispatch;
  EXPECT_EQ(hub.QueryInterface(&unknown), S_OK);
  EXPECT_EQ(hub.QueryInterface(&dispatch), S_OK);
  CComPtr<IHubSink> sink;
  EXPECT_EQ(hub.QueryInterface(&sink), E_NOINTERFACE);
  CComPtr<IDiscovery> discovery;
  EXPECT_EQ(hub.QueryInterface(&discovery), E_NOINTERFACE);
  EXPECT_EQ(discovery, nullptr);

  // The dispatch half serves IHub's methods by name.
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"SetAgentName");
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 5);
  CComVariant argument(L"ByDispatch");
  DISPPARAMS parameters = {&argument, nullptr, 1, 0};
  EXPECT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr), S_OK);
  EXPECT_NE(sandbox_.Trace().find("Hub: The agent name was set to ByDispatch"), std::string::npos);
}

// An outer object that only hands out the inner object's IUnknown.
struct OuterUnknown : IUnknown {
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++references; }
  STDMETHOD_(ULONG, Release)() override { return --references; }
  ULONG references = 1;
};

TEST_F(HubTest, AggregationAndModuleLifetime) {
  auto canUnloadNow = auralink::testing::ModuleFunction<EntryPoint>(module_, "DllCanUnloadNow");
  ASSERT_TRUE(canUnloadNow);
  EXPECT_EQ(canUnloadNow(), S_OK);

  OuterUnknown outer;
  IHub* refused = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TouchpointHub, &outer, CLSCTX_INPROC_SERVER, IID_IHub,
                             reinterpret_cast<void**>(&refused)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(refused, nullptr);
  IUnknown* inner = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TouchpointHub, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&inner)),
            S_OK);
  IHub* aggregated = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IHub, reinterpret_cast<void**>(&aggregated)), S_OK);
  EXPECT_EQ(outer.references, 2u);  // the aggregated interface counts on the outer object
  aggregated->Release();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  inner->Release();
  EXPECT_EQ(canUnloadNow(), S_OK);

  {
    CComPtr<IHub> hub = CreateHub();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(canUnloadNow(), S_OK);
  CComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_TouchpointHub, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(TRUE);
  factory.Release();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  ASSERT_EQ(CoGetClassObject(CLSID_TouchpointHub, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(FALSE);
  factory.Release();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

}  // namespace
}  // namespace auralink::testing
