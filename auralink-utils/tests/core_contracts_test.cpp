// The shape of the contracts as a client compiled elsewhere sees it: methods by vtable
// slot, dispatch identifiers by name, and one distinct identifier per class and interface.
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/contracts.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>
#include <auralink/platform/text.h>
#include <auralink/platform/guid_text.h>

namespace {

// Calls vtable slot `slot` of `object` with zero arguments in every parameter position,
// as a caller that knows only the slot numbers would. The probes below ignore arguments.
template <class I>
HRESULT CallSlot(I* object, size_t slot) {
  using Slot = HRESULT (*)(I*, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
  void** vtable = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Slot>(vtable[slot])(object, 0, 0, 0, 0, 0, 0, 0);
}

// A dual-interface object that records which of its methods ran.
template <class I, const auralink::platform::DispatchTable* table>
class Probe : public IDispatchImpl<I, &InterfaceId<I>::value, &GUID_NULL, table> {
 public:
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = this;
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 1; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  std::vector<std::string> calls;

 protected:
  HRESULT Record(const char* name) {
    calls.push_back(name);
    return S_OK;
  }
};

class ListeningProbe : public Probe<IListening, &kListeningDispatch> {
 public:
  STDMETHOD(Initialize)(BSTR) override { return Record("Initialize"); }
  STDMETHOD(Start)() override { return Record("Start"); }
  STDMETHOD(Stop)() override { return Record("Stop"); }
  STDMETHOD(Terminate)() override { return Record("Terminate"); }
};

class ProcessingProbe : public Probe<IProcessing, &kProcessingDispatch> {
 public:
  STDMETHOD(Initialize)(BSTR) override { return Record("Initialize"); }
  STDMETHOD(ProcessingObject)(LONG, BSTR, BSTR, LONG*, SAFEARRAY**, LONG*, SAFEARRAY**) override {
    return Record("ProcessingObject");
  }
  STDMETHOD(Terminate)() override { return Record("Terminate"); }
};

class DiscoveryProbe : public Probe<IDiscovery, &kDiscoveryDispatch> {
 public:
  STDMETHOD(Initialize)(BSTR) override { return Record("Initialize"); }
  STDMETHOD(GetInstance)(BSTR, LONG, SAFEARRAY**, BSTR*) override { return Record("GetInstance"); }
  STDMETHOD(EnumInstances)(BSTR, LONG, SAFEARRAY**, LONG*, SAFEARRAY**) override { return Record("EnumInstances"); }
  STDMETHOD(Terminate)() override { return Record("Terminate"); }
};

class HubProbe : public Probe<IHub, &kHubDispatch> {
 public:
  STDMETHOD(Unsubscribe)(LONG) override { return Record("Unsubscribe"); }
  STDMETHOD(Subscribe)(IHubSink*, LONG*) override { return Record("Subscribe"); }
  STDMETHOD(GetInstance)(BSTR, LONG, SAFEARRAY**, BSTR*) override { return Record("GetInstance"); }
  STDMETHOD(EnumInstances)(BSTR, LONG, SAFEARRAY**, LONG*, SAFEARRAY**) override { return Record("EnumInstances"); }
  STDMETHOD(SetAgentName)(BSTR) override { return Record("SetAgentName"); }
};

// The interface's own methods start after IUnknown's three and IDispatch's four slots;
// each table entry names the method in its slot and gets the identifier slot - 6.
template <class ProbeType>
void ExpectSlotsMatchTable(const auralink::platform::DispatchTable& table, std::vector<std::string> expected) {
  ProbeType probe;
  ASSERT_EQ(table.count, expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    probe.calls.clear();
    CallSlot(static_cast<IDispatch*>(&probe), 7 + i);
    ASSERT_EQ(probe.calls, std::vector<std::string>{expected[i]}) << "slot " << 7 + i;
    EXPECT_EQ(auralink::platform::ToNarrow(table.members[i].name), expected[i]);

    CComBSTR name(expected[i].c_str());
    LPOLESTR names[] = {name.m_str};
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(probe.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << expected[i];
    EXPECT_EQ(id, static_cast<DISPID>(i + 1)) << expected[i];
  }
  EXPECT_TRUE(IsEqualIID(*table.iid, InterfaceId<typename ProbeType::_DualInterface>::value));
}

TEST(ContractShapes, DualInterfacesKeepSlotOrderAndDispatchIdentifiers) {
  ExpectSlotsMatchTable<ListeningProbe>(kListeningDispatch, {"Initialize", "Start", "Stop", "Terminate"});
  ExpectSlotsMatchTable<ProcessingProbe>(kProcessingDispatch, {"Initialize", "ProcessingObject", "Terminate"});
  ExpectSlotsMatchTable<DiscoveryProbe>(kDiscoveryDispatch, {"Initialize", "GetInstance", "EnumInstances", "Terminate"});
  ExpectSlotsMatchTable<HubProbe>(kHubDispatch,
                                  {"Unsubscribe", "Subscribe", "GetInstance", "EnumInstances", "SetAgentName"});
}

TEST(ContractShapes, InvokeByIdentifierReachesTheNamedMethod) {
  HubProbe hub;
  CComVariant name(L"QuillonLst");
  DISPPARAMS oneString = {&name, nullptr, 1, 0};
  EXPECT_EQ(hub.Invoke(5, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &oneString, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(hub.Invoke(6, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &oneString, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  ListeningProbe listening;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  listening.Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
  EXPECT_EQ(hub.calls, std::vector<std::string>{"SetAgentName"});
  EXPECT_EQ(listening.calls, std::vector<std::string>{"Stop"});
}

class CountingSink : public CHubSink {
 public:
  int HandleOperation(LONG operation, BSTR id, BSTR stream) override {
    handled = operation;
    SysFreeString(id);
    SysFreeString(stream);
    return 1;
  }
  LONG handled = 0;
};

TEST(ContractShapes, SinkSlotsFollowIUnknownThenIndicateThenHandleOperation) {
  CountingSink sink;
  IHubSink* asSink = &sink;
  // Slot 3 is Indicate: with zero counts it accepts and handles nothing.
  EXPECT_EQ(CallSlot(asSink, 3), S_OK);
  // Slot 4 is the sink base's HandleOperation, which derived sinks override.
  using Handle = int (*)(IHubSink*, LONG, BSTR, BSTR);
  void** vtable = *reinterpret_cast<void***>(asSink);
  EXPECT_EQ(reinterpret_cast<Handle>(vtable[4])(asSink, auralink::FILTERED, SysAllocString(L"id"),
                                                SysAllocString(L"stream")),
            1);
  EXPECT_EQ(sink.handled, auralink::FILTERED);
}

TEST(ContractShapes, EveryIdentifierIsDistinct) {
  const GUID* all[] = {&IID_IListening, &IID_IProcessing, &IID_IDiscovery, &IID_IHub, &IID_IHubSink,
                       &LIBID_DUVIZAREZEZaz, &CLSID_TouchpointHub, &LIBID_QUILLONLib, &CLSID_QuillonDiscovery,
                       &CLSID_QuillonProcessing, &CLSID_QuillonListening, &LIBID_MARROWBYLib,
                       &CLSID_MarrowbyListening, &CLSID_MarrowbyProcessing, &LIBID_DUNMERELib,
                       &CLSID_DunmereListening, &IID_IUnknown, &IID_IDispatch};
  for (size_t i = 0; i < std::size(all); ++i)
    for (size_t j = i + 1; j < std::size(all); ++j)
      EXPECT_FALSE(IsEqualGUID(*all[i], *all[j])) << auralink::platform::GuidToString(*all[i]);
  EXPECT_TRUE(IsEqualIID(__uuidof(IHubSink), IID_IHubSink));
  EXPECT_TRUE(IsEqualIID(__uuidof(IProcessing), IID_IProcessing));
}

}  // namespace
