// The shape of the contracts as a client compiled elsewhere sees it: methods by vtable
// slot, dispatch identifiers by name, and one distinct identifier per class and interface.
// contracts/idl/auralink.idl, from which the type libraries are made (and by which a real
// COM runtime marshals calls between apartments), must describe the same interfaces as
// contracts/include/auralink/interfaces.h: identifiers, slot order, dispatch identifiers
// and parameter types.
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/contracts.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>
#include <auralink/platform/text.h>
#include <auralink/platform/guid_text.h>

namespace {

// One interface of the IDL file: its IID, base, and methods in slot order with their
// dispatch identifiers and parameter types as C++ spells them (SAFEARRAY(T)* is a
// SAFEARRAY**).
struct IdlMethod {
  std::string name;
  int dispatchId = 0;  // 0 when the method has no [id(n)]
  std::vector<std::string> parameterTypes;
};
struct IdlInterface {
  std::string iid, base;
  std::vector<IdlMethod> methods;
};

std::string WithoutBlanks(const std::string& text) {
  std::string out;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) out += c;
  return out;
}

// Splits at commas outside brackets and parentheses.
std::vector<std::string> SplitTopLevel(const std::string& text) {
  std::vector<std::string> parts;
  int depth = 0;
  std::string part;
  for (char c : text) {
    if (c == '(' || c == '[') ++depth;
    if (c == ')' || c == ']') --depth;
    if (c == ',' && depth == 0) {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!WithoutBlanks(part).empty()) parts.push_back(part);
  return parts;
}

// "[in, out] SAFEARRAY(VARIANT)* ppArray" -> "SAFEARRAY**".
std::string ParameterType(std::string parameter) {
  if (size_t close = parameter.find(']'); parameter.find('[') != std::string::npos) parameter.erase(0, close + 1);
  size_t end = parameter.find_last_not_of(" \t\n");
  size_t nameStart = parameter.find_last_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_", end);
  std::string type = WithoutBlanks(parameter.substr(0, nameStart + 1));
  if (type.rfind("SAFEARRAY(", 0) == 0) type = "SAFEARRAY*" + type.substr(type.find(')') + 1);
  return type;
}

std::map<std::string, IdlInterface> ReadIdl(const char* path) {
  std::ifstream file(path);
  std::string text, line;
  while (std::getline(file, line)) text += line.substr(0, line.find("//")) + "\n";
  std::map<std::string, IdlInterface> interfaces;
  for (size_t at = text.find("interface "); at != std::string::npos; at = text.find("interface ", at + 1)) {
    const size_t open = text.find('{', at), colon = text.find(':', at);
    if (open == std::string::npos || colon > open) continue;  // a forward reference in a library
    const size_t attributes = text.rfind('[', at);
    const std::string header = text.substr(attributes, at - attributes);
    if (header.find("local") != std::string::npos) continue;  // IUnknown and IDispatch
    IdlInterface entry;
    const size_t uuid = header.find("uuid(");
    entry.iid.append("{").append(header, uuid + 5, header.find(')', uuid) - uuid - 5).append("}");
    std::istringstream names(text.substr(at, open - at));
    std::string keyword, name, separator;
    names >> keyword >> name >> separator >> entry.base;
    const std::string body = text.substr(open + 1, text.find("};", open) - open - 1);
    for (size_t m = body.find("HRESULT "); m != std::string::npos; m = body.find("HRESULT ", m + 1)) {
      IdlMethod method;
      const size_t paren = body.find('(', m);
      method.name = WithoutBlanks(body.substr(m + 8, paren - m - 8));
      const size_t lineStart = body.rfind(';', m);
      const std::string before = body.substr(lineStart == std::string::npos ? 0 : lineStart, m - lineStart);
      if (size_t id = before.find("id("); id != std::string::npos) method.dispatchId = std::stoi(before.substr(id + 3));
      int depth = 0;
      size_t close = paren;
      do {
        if (body[close] == '(') ++depth;
        if (body[close] == ')') --depth;
        ++close;
      } while (depth > 0);
      for (const std::string& parameter : SplitTopLevel(body.substr(paren + 1, close - paren - 2)))
        method.parameterTypes.push_back(ParameterType(parameter));
      entry.methods.push_back(method);
    }
    interfaces[name] = entry;
  }
  return interfaces;
}

const std::map<std::string, IdlInterface>& Idl() {
  static const std::map<std::string, IdlInterface> interfaces = ReadIdl(AURALINK_IDL_FILE);
  return interfaces;
}

std::vector<std::string> IdlMethodNames(const char* interfaceName) {
  std::vector<std::string> names;
  for (const IdlMethod& method : Idl().at(interfaceName).methods) names.push_back(method.name);
  return names;
}

// The C++ spelling of the parameter types the interfaces use.
template <class T>
std::string Spelling() {
  if constexpr (std::is_same_v<T, BSTR>) return "BSTR";
  if constexpr (std::is_same_v<T, BSTR*>) return "BSTR*";
  if constexpr (std::is_same_v<T, LONG>) return "LONG";
  if constexpr (std::is_same_v<T, LONG*>) return "LONG*";
  if constexpr (std::is_same_v<T, SAFEARRAY**>) return "SAFEARRAY**";
  if constexpr (std::is_same_v<T, IHubSink*>) return "IHubSink*";
  return "an unexpected type";
}

template <class C, class... Arguments>
std::vector<std::string> ParameterTypes(HRESULT (STDMETHODCALLTYPE C::*)(Arguments...)) {
  return {Spelling<Arguments>()...};
}

struct CppMethod {
  const char* interfaceName;
  const char* name;
  std::vector<std::string> parameterTypes;
};

// Calls vtable slot `slot` of `object` with zero arguments in every parameter position,
// as a caller that knows only the slot numbers would. The probes below ignore arguments.
template <class I>
HRESULT CallSlot(I* object, size_t slot) {
  using Slot = HRESULT (*)(I*, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
  void** vtable = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Slot>(vtable[slot])(object, 0, 0, 0, 0, 0, 0, 0);
}

// A dual-interface object that records which of its methods ran.
template <class I, const IID* iid, const auralink::platform::DispatchTable* table>
class Probe : public IDispatchImpl<I, iid, &GUID_NULL, table> {
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

class ListeningProbe : public Probe<IListening, &IID_IListening, &kListeningDispatch> {
 public:
  STDMETHOD(Initialize)(BSTR) override { return Record("Initialize"); }
  STDMETHOD(Start)() override { return Record("Start"); }
  STDMETHOD(Stop)() override { return Record("Stop"); }
  STDMETHOD(Terminate)() override { return Record("Terminate"); }
};

class ProcessingProbe : public Probe<IProcessing, &IID_IProcessing, &kProcessingDispatch> {
 public:
  STDMETHOD(Initialize)(BSTR) override { return Record("Initialize"); }
  STDMETHOD(ProcessingObject)(LONG, BSTR, BSTR, LONG*, SAFEARRAY**, LONG*, SAFEARRAY**) override {
    return Record("ProcessingObject");
  }
  STDMETHOD(Terminate)() override { return Record("Terminate"); }
};

class DiscoveryProbe : public Probe<IDiscovery, &IID_IDiscovery, &kDiscoveryDispatch> {
 public:
  STDMETHOD(Initialize)(BSTR) override { return Record("Initialize"); }
  STDMETHOD(GetInstance)(BSTR, LONG, SAFEARRAY**, BSTR*) override { return Record("GetInstance"); }
  STDMETHOD(EnumInstances)(BSTR, LONG, SAFEARRAY**, LONG*, SAFEARRAY**) override { return Record("EnumInstances"); }
  STDMETHOD(Terminate)() override { return Record("Terminate"); }
};

class HubProbe : public Probe<IHub, &IID_IHub, &kHubDispatch> {
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
  EXPECT_TRUE(IsEqualIID(*table.iid, __uuidof(typename ProbeType::_DualInterface)));
}

TEST(ContractShapes, DualInterfacesKeepTheIdlSlotOrderAndDispatchIdentifiers) {
  ExpectSlotsMatchTable<ListeningProbe>(kListeningDispatch, IdlMethodNames("IListening"));
  ExpectSlotsMatchTable<ProcessingProbe>(kProcessingDispatch, IdlMethodNames("IProcessing"));
  ExpectSlotsMatchTable<DiscoveryProbe>(kDiscoveryDispatch, IdlMethodNames("IDiscovery"));
  ExpectSlotsMatchTable<HubProbe>(kHubDispatch, IdlMethodNames("IHub"));
  for (const auto& [name, entry] : Idl()) {
    for (size_t i = 0; i < entry.methods.size(); ++i) {
      const int expected = entry.base == "IDispatch" ? static_cast<int>(i + 1) : 0;
      EXPECT_EQ(entry.methods[i].dispatchId, expected) << name << "::" << entry.methods[i].name;
    }
  }
}

TEST(ContractShapes, TheIdlDescribesTheCppInterfaces) {
  const std::map<std::string, std::pair<const IID*, std::string>> cpp = {
      {"IListening", {&IID_IListening, "IDispatch"}}, {"IProcessing", {&IID_IProcessing, "IDispatch"}},
      {"IDiscovery", {&IID_IDiscovery, "IDispatch"}}, {"IHub", {&IID_IHub, "IDispatch"}},
      {"IHubSink", {&IID_IHubSink, "IUnknown"}}};
  const std::vector<CppMethod> methods = {
      {"IListening", "Initialize", ParameterTypes(&IListening::Initialize)},
      {"IListening", "Start", ParameterTypes(&IListening::Start)},
      {"IListening", "Stop", ParameterTypes(&IListening::Stop)},
      {"IListening", "Terminate", ParameterTypes(&IListening::Terminate)},
      {"IProcessing", "Initialize", ParameterTypes(&IProcessing::Initialize)},
      {"IProcessing", "ProcessingObject", ParameterTypes(&IProcessing::ProcessingObject)},
      {"IProcessing", "Terminate", ParameterTypes(&IProcessing::Terminate)},
      {"IDiscovery", "Initialize", ParameterTypes(&IDiscovery::Initialize)},
      {"IDiscovery", "GetInstance", ParameterTypes(&IDiscovery::GetInstance)},
      {"IDiscovery", "EnumInstances", ParameterTypes(&IDiscovery::EnumInstances)},
      {"IDiscovery", "Terminate", ParameterTypes(&IDiscovery::Terminate)},
      {"IHub", "Unsubscribe", ParameterTypes(&IHub::Unsubscribe)},
      {"IHub", "Subscribe", ParameterTypes(&IHub::Subscribe)},
      {"IHub", "GetInstance", ParameterTypes(&IHub::GetInstance)},
      {"IHub", "EnumInstances", ParameterTypes(&IHub::EnumInstances)},
      {"IHub", "SetAgentName", ParameterTypes(&IHub::SetAgentName)},
      {"IHubSink", "Indicate", ParameterTypes(&IHubSink::Indicate)},
  };
  ASSERT_EQ(Idl().size(), cpp.size());
  size_t described = 0;
  for (const auto& [name, entry] : Idl()) {
    ASSERT_EQ(cpp.count(name), 1u) << name << " is not a C++ interface";
    EXPECT_EQ(entry.iid, auralink::platform::GuidToString(*cpp.at(name).first)) << name;
    EXPECT_EQ(entry.base, cpp.at(name).second) << name;
    for (const IdlMethod& method : entry.methods) {
      ++described;
      auto found = std::find_if(methods.begin(), methods.end(), [&](const CppMethod& m) {
        return name == m.interfaceName && method.name == m.name;
      });
      ASSERT_NE(found, methods.end()) << name << "::" << method.name << " is not declared in C++";
      EXPECT_EQ(method.parameterTypes, found->parameterTypes) << name << "::" << method.name;
    }
  }
  EXPECT_EQ(described, methods.size()) << "a C++ method the IDL does not describe";
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
  ASSERT_EQ(IdlMethodNames("IHubSink"), std::vector<std::string>{"Indicate"});
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
