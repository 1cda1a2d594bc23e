// CProcessing through COM, fed with the attribute texts that the discovery class reads from
// the sandbox's generated repository; every stream is read back as XML.
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/payload_arrays.h>
#include <auralink/processing_manager.h>
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <map>
#include <vector>

#include "model_xml_reader.h"
#include "quillon_test_environment.h"
#include "unlinked_objects.h"
#include <auralink/platform/guid_text.h>

namespace quillon::testing {
namespace {

using model_test::XmlElement;

QuillonEnvironment& Env() { return QuillonEnvironment::Get(); }

constexpr const char* kAgent = "ProcessingAgent";
// Workstation is left out on purpose. WindowsServer and UnixServer become the same Orvex
// class but reach a subnet by different link types, the WindowsServer line first.
constexpr const char* kClasses =
    "class IpNetwork Network\n"
    "class IpSubnet Subnet\n"
    "class WindowsServer ComputerSystem\n"
    "class UnixServer ComputerSystem\n"
    "class Router Router\n"
    "class SystemAgent SoftwareElement\n"
    "class Aggregate Aggregate\n"
    "rename UnixServer address ipAddress\n"
    "link IpSubnet IpNetwork PartOf\n"
    "link WindowsServer IpSubnet MemberOf\n"
    "link UnixServer IpSubnet HostedIn\n"
    "link Router IpSubnet ConnectedTo\n"
    "link SystemAgent WindowsServer RunsOn\n"
    "link SystemAgent UnixServer RunsOn\n";

const std::map<std::string, std::string> kOrvexClass = {
    {"IpNetwork", "Network"},        {"IpSubnet", "Subnet"}, {"WindowsServer", "ComputerSystem"},
    {"UnixServer", "ComputerSystem"}, {"Router", "Router"},   {"SystemAgent", "SoftwareElement"},
};
const std::map<std::pair<std::string, std::string>, std::string> kLinkType = {
    {{"IpSubnet", "IpNetwork"}, "PartOf"},          {{"WindowsServer", "IpSubnet"}, "MemberOf"},
    {{"UnixServer", "IpSubnet"}, "HostedIn"},       {{"Router", "IpSubnet"}, "ConnectedTo"},
    {{"SystemAgent", "WindowsServer"}, "RunsOn"}, {{"SystemAgent", "UnixServer"}, "RunsOn"},
};

// An object as discovery reads it.
struct Discovered {
  std::string id;
  std::string text;
  // The text's own fields, read plainly for the expectations: parents in order, the rest
  // by name.
  std::string Field(const std::string& name) const {
    const std::string marker = name + "=";
    size_t at = text.rfind("|" + marker);
    at = at == std::string::npos ? (text.compare(0, marker.size(), marker) == 0 ? 0 : std::string::npos) : at + 1;
    return at == std::string::npos ? "<absent>" : text.substr(at + marker.size(), text.find('|', at) - at - marker.size());
  }
  std::vector<std::pair<std::string, std::string>> Parents() const {
    std::vector<std::pair<std::string, std::string>> parents;
    for (size_t n = 0;; ++n) {
      const std::string suffix = n == 0 ? "" : "#" + std::to_string(n);
      if (text.find("|parent_class" + suffix + "=") == std::string::npos) return parents;
      parents.emplace_back(Field("parent_class" + suffix), Field("parent_uuid" + suffix));
    }
  }
};

struct Processed {
  HRESULT hr = E_UNEXPECTED;
  LONG opCount = -1;
  LONG objCount = -1;
  std::vector<LONG> operations;
  std::vector<XmlElement> streams;
};

// Reads every element of the two arrays; each stream must be a well-formed document.
void ReadArrays(SAFEARRAY* operations, SAFEARRAY* objects, Processed& result) {
  for (LONG i = 0; i < auralink::PayloadElementCount(operations); ++i) {
    LONG operation = -1;
    EXPECT_EQ(auralink::GetOperationElement(operations, i, &operation), S_OK);
    result.operations.push_back(operation);
  }
  for (LONG i = 0; i < auralink::PayloadElementCount(objects); ++i) {
    std::string stream;
    EXPECT_EQ(auralink::GetStringElement(objects, i, &stream), S_OK);
    model_test::XmlReader reader;
    auto document = reader.Read(stream);
    if (!document) ADD_FAILURE() << reader.Error() << " in " << stream;
    result.streams.push_back(document.value_or(XmlElement{}));
  }
}

Processed Process(IProcessing* processing, LONG operation, const std::string& id, const std::string& text) {
  Processed result;
  auralink::PayloadArray operations, objects;
  result.hr = processing->ProcessingObject(operation, CComBSTR(id.c_str()), CComBSTR(text.c_str()), &result.opCount,
                                           operations.Receive(), &result.objCount, objects.Receive());
  ReadArrays(operations.Get(), objects.Get(), result);
  return result;
}

// The result of a call that must leave all four outputs as they were.
HRESULT ProcessUntouched(IProcessing* processing, LONG operation, const std::string& id, BSTR text) {
  SAFEARRAY* const untouched = reinterpret_cast<SAFEARRAY*>(0x1);
  LONG opCount = -7, objCount = -7;
  SAFEARRAY* operations = untouched;
  SAFEARRAY* objects = untouched;
  HRESULT hr = processing->ProcessingObject(operation, CComBSTR(id.c_str()), text, &opCount, &operations, &objCount,
                                            &objects);
  EXPECT_TRUE(opCount == -7 && objCount == -7 && operations == untouched && objects == untouched) << operation;
  return hr;
}

std::map<std::string, std::string> Named(const XmlElement& list) {
  std::map<std::string, std::string> named;
  for (const XmlElement& item : list.children) named[*item.Attribute("name")] = item.text;
  return named;
}

std::string Attr(const XmlElement& element, const char* name) {
  const std::string* value = element.Attribute(name);
  return value ? *value : "<absent>";
}

class ProcessingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Env().WriteClassesFile(kAgent, kClasses);
    discovery_ = Env().CreateDiscovery(kAgent).Detach();
  }
  static void TearDownTestSuite() {
    discovery_->Terminate();
    discovery_->Release();
  }

  void SetUp() override {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Quillon.Processing", &clsid), S_OK);
    ASSERT_TRUE(IsEqualGUID(clsid, CLSID_QuillonProcessing));
    ASSERT_EQ(processing_.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER), S_OK);
    ASSERT_EQ(processing_->Initialize(CComBSTR(kAgent)), S_OK);
  }

  // Every readable object of the class that `wanted` accepts, as discovery reads it.
  static std::vector<Discovered> Objects(const char* className,
                                         const std::function<bool(const Discovered&)>& wanted = nullptr) {
    LONG count = 0;
    auralink::PayloadArray ids;
    EXPECT_EQ(discovery_->EnumInstances(CComBSTR(className), 0, nullptr, &count, ids.Receive()), S_OK);
    std::vector<Discovered> found;
    for (LONG i = 0; i < ids.Count(); ++i) {
      Discovered object;
      EXPECT_EQ(auralink::GetStringElement(ids.Get(), i, &object.id), S_OK);
      CComBSTR text;
      if (discovery_->GetInstance(CComBSTR(object.id.c_str()), 0, nullptr, &text) != S_OK) continue;
      object.text = text.ToNarrow();
      if (!wanted || wanted(object)) found.push_back(object);
    }
    return found;
  }
  static std::function<bool(const Discovered&)> WithParents(size_t count) {
    return [count](const Discovered& object) { return object.Parents().size() == count; };
  }

  // The instance, links and event of a created object against its attribute text.
  static void ExpectCreation(const Discovered& object, const Processed& result, time_t before) {
    SCOPED_TRACE(object.text);
    const std::string sourceClass = object.Field("class_name");
    const std::string orvexClass = kOrvexClass.at(sourceClass);
    const auto parents = object.Parents();
    ASSERT_EQ(result.hr, S_OK);
    std::vector<LONG> expected{1};
    expected.insert(expected.end(), parents.size(), 4);
    expected.push_back(12);
    ASSERT_EQ(result.operations, expected);
    ASSERT_EQ(result.opCount, static_cast<LONG>(expected.size()));
    ASSERT_EQ(result.objCount, static_cast<LONG>(expected.size()));

    const XmlElement& instance = result.streams.front();
    EXPECT_EQ(instance.name, "instance");
    EXPECT_EQ(Attr(instance, "class"), orvexClass);
    EXPECT_EQ(Attr(instance, "id"), object.id);
    EXPECT_EQ(Attr(instance, "name"), object.Field("name"));
    ASSERT_EQ(instance.children.size(), 2u);
    EXPECT_EQ(Named(instance.children[0]), (std::map<std::string, std::string>{{"uuid", object.id}}));
    auto attributes = Named(instance.children[1]);
    EXPECT_EQ(attributes["uuid"], object.id);
    EXPECT_EQ(attributes["label"], object.Field("label"));
    EXPECT_EQ(attributes["description"], object.Field("label"));
    EXPECT_EQ(attributes["status_text"], object.Field("status_text"));
    EXPECT_EQ(attributes["date_modify"], object.Field("date_modify"));
    EXPECT_EQ(attributes.count("parent_class") + attributes.count("parent_uuid"), 0u);
    EXPECT_EQ(attributes[sourceClass == "UnixServer" ? "ipAddress" : "address"], object.Field("address"));

    for (size_t p = 0; p < parents.size(); ++p) {
      const XmlElement& link = result.streams[p + 1];
      ASSERT_EQ(link.name, "link");
      EXPECT_EQ(Attr(link, "type"), kLinkType.at({sourceClass, parents[p].first})) << "parent " << p;
      ASSERT_EQ(link.children.size(), 2u);
      EXPECT_EQ(Attr(link.children[0], "class"), orvexClass);
      EXPECT_EQ(Attr(link.children[0], "id"), object.id);
      EXPECT_EQ(Attr(link.children[1], "class"), kOrvexClass.at(parents[p].first));
      EXPECT_EQ(Attr(link.children[1], "id"), parents[p].second);
    }

    const XmlElement& event = result.streams.back();
    EXPECT_EQ(event.name, "event");
    EXPECT_EQ(Attr(event, "objectClass"), orvexClass);
    EXPECT_EQ(Attr(event, "objectId"), object.id);
    EXPECT_EQ(Attr(event, "type"), "StatusText");
    EXPECT_EQ(Attr(event, "category"), "MSG");
    EXPECT_EQ(Attr(event, "description"), object.Field("status_text"));
    EXPECT_EQ(Attr(event, "severity"), attributes["severity"]);
    EXPECT_EQ(Attr(event, "qualifiedSeverity"), "TNG_" + attributes["severity"]);
    const long long time = std::stoll(Attr(event, "time"));
    EXPECT_GE(time, static_cast<long long>(before));
    EXPECT_LE(time, static_cast<long long>(std::time(nullptr)));
  }

  static IDiscovery* discovery_;
  CComPtr<IProcessing> processing_;
};
IDiscovery* ProcessingTest::discovery_ = nullptr;

TEST_F(ProcessingTest, EveryListedObjectGivesItsInstanceALinkPerParentAndItsEvent) {
  // Handed on the way the discovery tool does it: through the agent's "ProcessingID".
  ASSERT_TRUE(CConfRepositoryManager::GetInstance()->SetStr(
      auralink::config::AgentKey(kAgent).c_str(), auralink::config::kProcessingId,
      auralink::platform::GuidToString(CLSID_QuillonProcessing, false).c_str()));
  const time_t before = std::time(nullptr);
  size_t linked = 0, unlinked = 0;
  for (const Discovered& object : Objects("")) {
    SCOPED_TRACE(object.text);
    Processed result;
    auralink::PayloadArray operations, streams;
    ASSERT_TRUE(CProcessingManager::GetInstance()->ProcessingObject(kAgent, 1, object.id.c_str(), object.text.c_str(),
                                                                    &result.opCount, operations.Receive(),
                                                                    &result.objCount, streams.Receive()));
    ReadArrays(operations.Get(), streams.Get(), result);
    result.hr = S_OK;

    // Without a parent, or with none of a class it can link to, an object goes under the
    // unlinked-objects aggregate.
    const auto parents = object.Parents();
    bool linkable = !parents.empty();
    for (const auto& parent : parents) linkable = linkable && kLinkType.count({object.Field("class_name"), parent.first});
    if (linkable) {
      ExpectCreation(object, result, before);
      ++linked;
      continue;
    }
    ASSERT_EQ(result.operations, (std::vector<LONG>{1, 4, 12}));
    const XmlElement& link = result.streams[1];
    EXPECT_EQ(Attr(link, "type"), "GEPC");
    ASSERT_EQ(link.children.size(), 2u);
    EXPECT_EQ(Attr(link.children[0], "class"), Attr(result.streams[0], "class"));
    EXPECT_EQ(Attr(link.children[0], "id"), object.id);
    EXPECT_EQ(Attr(link.children[1], "class"), "Aggregate");
    EXPECT_EQ(Attr(link.children[1], "id"), kUnlinkedObjectsId);
    EXPECT_NE(Env().Trace().find("Warning: the instance of the class " + Attr(result.streams[0], "class") + " with id " +
                                 object.id + " has not a valid parent instance"),
              std::string::npos);
    ++unlinked;
  }
  EXPECT_GT(linked, 100u);
  EXPECT_GT(unlinked, 2u);  // the aggregate itself, objects without parents, agents on workstations
  EXPECT_NE(Env().Trace().find("Unable to remap link with source SystemAgent and target Workstation"),
            std::string::npos);
  EXPECT_NE(Env().Trace().find("TNG:IProcessing: Inside of CProcessing::Initialize. AgentName set to ProcessingAgent"),
            std::string::npos);
}

TEST_F(ProcessingTest, EachParentGetsTheLinkTypeOfTheChildsOwnClass) {
  // Both subnets of a UnixServer must give HostedIn, even though after the first link the
  // child is a ComputerSystem, which the earlier WindowsServer line also names.
  const std::vector<Discovered> servers = Objects("UnixServer", WithParents(2));
  ASSERT_FALSE(servers.empty());
  for (const Discovered& server : servers) {
    Processed result = Process(processing_, 1, server.id, server.text);
    ASSERT_EQ(result.operations, (std::vector<LONG>{1, 4, 4, 12}));
    EXPECT_EQ(Attr(result.streams[1], "type"), "HostedIn");
    EXPECT_EQ(Attr(result.streams[2], "type"), "HostedIn");
  }
  const std::vector<Discovered> windows = Objects("WindowsServer", WithParents(1));
  ASSERT_FALSE(windows.empty());
  EXPECT_EQ(Attr(Process(processing_, 1, windows[0].id, windows[0].text).streams[1], "type"), "MemberOf");
}

TEST_F(ProcessingTest, TheOperationDecidesWhichStreamsComeBack) {
  const Discovered server = Objects("UnixServer", WithParents(3)).at(0);
  Processed modified = Process(processing_, 2, server.id, server.text);
  EXPECT_EQ(modified.hr, S_OK);
  EXPECT_EQ(modified.operations, (std::vector<LONG>{2, 12}));
  ASSERT_EQ(modified.streams.size(), 2u);
  EXPECT_EQ(modified.streams[0].name, "instance");
  EXPECT_EQ(modified.streams[1].name, "event");

  for (LONG other : {3, 7}) {
    Processed result = Process(processing_, other, server.id, server.text);
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_EQ(result.operations, std::vector<LONG>{12});
    ASSERT_EQ(result.streams.size(), 1u);
    EXPECT_EQ(result.streams[0].name, "event");
    EXPECT_EQ(Attr(result.streams[0], "objectClass"), "ComputerSystem");
  }

}

TEST_F(ProcessingTest, TheRegistrationNoticeAndAnUnlistedClassLeaveTheOutputsAlone) {
  EXPECT_EQ(ProcessUntouched(processing_, 13, "-", CComBSTR("-")), S_OK);
  EXPECT_NE(Env().Trace().find("TNG:IProcessing: Nothing to do for initializing"), std::string::npos);

  // Workstations are in the repository but not in the agent's list.
  Env().WriteClassesFile("AllOfTheRepository", "class Workstation Workstation\n");
  CComPtr<IDiscovery> all = Env().CreateDiscovery("AllOfTheRepository");
  LONG count = 0;
  auralink::PayloadArray ids;
  ASSERT_EQ(all->EnumInstances(CComBSTR("Workstation"), 0, nullptr, &count, ids.Receive()), S_OK);
  std::string id;
  ASSERT_EQ(auralink::GetStringElement(ids.Get(), 0, &id), S_OK);
  CComBSTR text;
  ASSERT_EQ(all->GetInstance(CComBSTR(id.c_str()), 0, nullptr, &text), S_OK);

  EXPECT_EQ(ProcessUntouched(processing_, 1, id, text), S_FALSE);
  EXPECT_NE(Env().Trace().find("Unable to remap the instance of the class Workstation with id " + id +
                               ". The instance will be discarded"),
            std::string::npos);
  all->Terminate();
}

TEST_F(ProcessingTest, TheEventSeverityFollowsTheSeverityField) {
  const Discovered router = Objects("Router", WithParents(2)).at(0);
  const std::string field = "|severity=" + router.Field("severity") + "|";
  const std::map<std::string, std::string> names = {
      {"0", "Normal"},   {"1", "Unknown"},  {"2", "Warning"},   {"3", "Minor"},  {"4", "Major"},
      {"5", "Critical"}, {"6", "Down"},     {"7", "Inservice"}, {"8", "Remove"}, {"9", "Future"},
      {"12", "Unknown"}, {"-1", "Unknown"}, {"x", "Normal"},    {"4 (major)", "Major"},
      {"99999999999999999999", "Unknown"},
  };
  for (const auto& [value, name] : names) {
    std::string text = router.text;
    text.replace(text.find(field), field.size(), "|severity=" + value + "|");
    Processed result = Process(processing_, 2, router.id, text);
    ASSERT_EQ(result.streams.size(), 2u);
    EXPECT_EQ(Attr(result.streams[1], "severity"), name) << "severity=" << value;
    EXPECT_EQ(Attr(result.streams[1], "qualifiedSeverity"), "TNG_" + name) << "severity=" << value;
    EXPECT_EQ(Named(result.streams[0].children[1])["severity"], name) << "severity=" << value;
  }
}

TEST_F(ProcessingTest, IdentifierFormsAndTheEndsOfAFieldText) {
  const Discovered subnet = Objects("IpSubnet", WithParents(1)).at(0);
  struct Case {
    std::string objectId;
    std::string key;
    std::string id;
  };
  for (const Case& c : {Case{subnet.id, "uuid", subnet.id}, Case{"uuid=" + subnet.id + "|", "uuid", subnet.id},
                        Case{"ObjectKey=ABC|", "ObjectKey", "ABC"}, Case{"", "", ""}}) {
    Processed result = Process(processing_, 1, c.objectId, subnet.text);
    ASSERT_EQ(result.operations, (std::vector<LONG>{1, 4, 12})) << c.objectId;
    EXPECT_EQ(Attr(result.streams[0], "id"), c.id);
    EXPECT_EQ(Named(result.streams[0].children[0]), (std::map<std::string, std::string>{{c.key, c.id}}));
    EXPECT_EQ(Named(result.streams[0].children[1])["uuid"], c.id);
    EXPECT_EQ(Attr(result.streams[1].children[0], "id"), c.id);
    EXPECT_EQ(Attr(result.streams[2], "objectId"), c.id);
  }

  // Without its final "|" the last field, here the parent's identifier, is lost; a piece
  // without "=" is skipped; a later field overrides an earlier one.
  std::string cut = subnet.text.substr(0, subnet.text.size() - 1);
  Processed lost = Process(processing_, 1, subnet.id, "junk|" + cut + "|name=renamed|" + cut);
  ASSERT_EQ(lost.operations, (std::vector<LONG>{1, 4, 12}));
  EXPECT_EQ(Attr(lost.streams[0], "name"), subnet.Field("name"));
  EXPECT_EQ(Attr(lost.streams[1].children[1], "id"), subnet.Parents()[0].second);

  Processed noParent = Process(processing_, 1, subnet.id, cut);
  ASSERT_EQ(noParent.operations, (std::vector<LONG>{1, 4, 12}));
  EXPECT_EQ(Attr(noParent.streams[1].children[1], "id"), kUnlinkedObjectsId);
}

}  // namespace
}  // namespace quillon::testing
