#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/object_tree.h>
#include <auralink/payload_arrays.h>
#include <auralink/remapper.h>
#include <auralink/subnet_mask.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>
#include <winsock2.h>

#include <vector>

#include "model/object_tree_builder.h"
#include "model_xml_reader.h"

namespace {

using auralink::PayloadArray;
using auralink::model::LocalHost;
using auralink::testing::TestSandbox;
using model_test::XmlElement;

const char* const kEventAgentClasses =
    "class Network          IPNetwork\n"
    "class Host             ComputerSystem\n"
    "class SoftwareElement  SoftwareElement\n"
    "rename Network subnet_mask netmask\n"
    "link  Host             Network  MemberOf\n"
    "link  SoftwareElement  Host     RunsOn\n";

class ObjectTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRemapper::GetInstance()->Reset();
    CTraceUtils::GetInstance()->LogInitAppend(sandbox_.TraceFile().c_str(), -1, 0, -1);
    UseClasses(kEventAgentClasses);
  }
  void TearDown() override {
    CTraceUtils::GetInstance()->Close();
    CRemapper::GetInstance()->Reset();
  }
  void UseClasses(const char* text) {
    TestSandbox::WriteFile(sandbox_.Path("tree.classes"), text);
    CConfRepositoryManager::GetInstance()->SetStr(auralink::config::InstrumentationKey("MarrowbyLst").c_str(),
                                                  auralink::config::kInstrumentationClassesFile,
                                                  sandbox_.Path("tree.classes").c_str());
    CRemapper::GetInstance()->Reset();
  }
  int Build(const char* address, const std::string& mask) {
    const LocalHost host{"host1.example", *auralink::model::ParseDottedQuad(address)};
    return auralink::model::BuildObjectTreeOf(host, "MarrowbyLst", mask, "TNGEventManager", objectId_, &opCount_,
                                              operations_.Receive(), &objCount_, streams_.Receive());
  }
  XmlElement Stream(LONG index) {
    std::string xml;
    EXPECT_EQ(auralink::GetStringElement(streams_.Get(), index, &xml), S_OK);
    model_test::XmlReader reader;
    auto root = reader.Read(xml);
    EXPECT_TRUE(root) << reader.Error() << "\n" << xml;
    return root.value_or(XmlElement{});
  }
  std::string NetworkId() { return *Stream(0).Attribute("id"); }

  TestSandbox sandbox_;
  std::string objectId_;
  LONG opCount_ = -1, objCount_ = -1;
  PayloadArray operations_, streams_;
};

TEST_F(ObjectTreeTest, ThreeInstancesThenTwoLinksInOrvexTerms) {
  ASSERT_EQ(Build("10.1.2.3", "255.255.255.0"), 1) << TestSandbox::ReadFile(sandbox_.TraceFile());
  ASSERT_EQ(opCount_, 5);
  ASSERT_EQ(objCount_, 5);
  ASSERT_EQ(operations_.Count(), 5);
  ASSERT_EQ(streams_.Count(), 5);
  const LONG expected[] = {1, 1, 1, 4, 4};
  for (LONG i = 0; i < 5; ++i) {
    LONG operation = 0;
    EXPECT_EQ(auralink::GetOperationElement(operations_.Get(), i, &operation), S_OK);
    EXPECT_EQ(operation, expected[i]) << i;
  }
  const XmlElement network = Stream(0), host = Stream(1), manager = Stream(2), hostLink = Stream(3),
                   managerLink = Stream(4);
  EXPECT_EQ(*network.Attribute("class"), "IPNetwork");
  EXPECT_EQ(*network.Attribute("id"), "10.1.2.0");
  EXPECT_EQ(*network.children.at(1).children.at(1).Attribute("name"), "netmask");  // renamed
  EXPECT_EQ(*host.Attribute("class"), "ComputerSystem");
  EXPECT_EQ(*host.Attribute("id"), "host1.example");
  EXPECT_EQ(*manager.Attribute("class"), "SoftwareElement");
  EXPECT_EQ(*manager.Attribute("name"), "TNGEventManager");
  EXPECT_EQ(*manager.Attribute("id"), "TNGEventManager@host1.example");
  EXPECT_EQ(objectId_, "TNGEventManager@host1.example");  // written back for later events

  EXPECT_EQ(*hostLink.Attribute("type"), "MemberOf");
  EXPECT_EQ(*hostLink.children.at(0).Attribute("class"), "ComputerSystem");
  EXPECT_EQ(*hostLink.children.at(0).Attribute("id"), "host1.example");
  EXPECT_EQ(*hostLink.children.at(1).Attribute("class"), "IPNetwork");
  EXPECT_EQ(*hostLink.children.at(1).Attribute("id"), "10.1.2.0");
  EXPECT_EQ(*managerLink.Attribute("type"), "RunsOn");
  EXPECT_EQ(*managerLink.children.at(0).Attribute("id"), "TNGEventManager@host1.example");
  EXPECT_EQ(*managerLink.children.at(1).Attribute("id"), "host1.example");
}

TEST_F(ObjectTreeTest, EmptyMaskTakesTheClassfulMask) {
  ASSERT_EQ(Build("10.1.2.3", ""), 1);
  EXPECT_EQ(NetworkId(), "10.0.0.0");
  ASSERT_EQ(Build("172.16.5.4", ""), 1);
  EXPECT_EQ(NetworkId(), "172.16.0.0");
  ASSERT_EQ(Build("192.168.1.7", ""), 1);
  EXPECT_EQ(NetworkId(), "192.168.1.0");
  ASSERT_EQ(Build("192.168.1.7", "255.255.0.0"), 1);
  EXPECT_EQ(NetworkId(), "192.168.0.0");
}

TEST_F(ObjectTreeTest, GivenManagerIdentifierIsKept) {
  objectId_ = "manager-7";
  ASSERT_EQ(Build("10.1.2.3", ""), 1);
  EXPECT_EQ(*Stream(2).Attribute("id"), "manager-7");
  EXPECT_EQ(objectId_, "manager-7");
}

TEST_F(ObjectTreeTest, FailuresLeaveTheOutputsUntouched) {
  SAFEARRAY* const sentinel = reinterpret_cast<SAFEARRAY*>(0x1);
  SAFEARRAY* operations = sentinel;
  SAFEARRAY* streams = sentinel;
  const LocalHost host{"h", 0x0A000001};
  const auto build = [&](const std::string& mask) {
    return auralink::model::BuildObjectTreeOf(host, "MarrowbyLst", mask, "M", objectId_, &opCount_, &operations,
                                              &objCount_, &streams);
  };
  EXPECT_EQ(build("255.0.255.0"), 0);
  EXPECT_NE(TestSandbox::ReadFile(sandbox_.TraceFile()).find("the subnet mask 255.0.255.0 is not valid"),
            std::string::npos);
  UseClasses("class Network N\nclass Host H\nclass SoftwareElement S\nlink Host Network L\n");  // no manager link
  EXPECT_EQ(build(""), 0);
  EXPECT_NE(TestSandbox::ReadFile(sandbox_.TraceFile()).find("does not support SoftwareElement -> Host"),
            std::string::npos);
  EXPECT_EQ(operations, sentinel);
  EXPECT_EQ(streams, sentinel);
  EXPECT_EQ(opCount_, -1);
  EXPECT_EQ(objCount_, -1);
  EXPECT_TRUE(objectId_.empty());
  EXPECT_EQ(auralink::model::BuildObjectTreeOf(host, "MarrowbyLst", "", "M", objectId_, nullptr, &operations,
                                               &objCount_, &streams),
            0);
}

// Whether one of this machine's connected interfaces has an address outside loopback.
bool MachineHasNetworkAddress() {
  ULONG size = 0;
  if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return false;
  std::vector<unsigned char> buffer(size);
  auto* table = reinterpret_cast<PMIB_IPADDRTABLE>(buffer.data());
  if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return false;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const DWORD address = ntohl(table->table[i].dwAddr);
    if (address != 0 && (address >> 24) != 127 && !(table->table[i].wType & MIB_IPADDR_DISCONNECTED)) return true;
  }
  return false;
}

TEST_F(ObjectTreeTest, LocalHostOfThisMachineIsNotDescribedByLoopback) {
  std::string objectId;
  ASSERT_NE(BuildObjectTree("MarrowbyLst", "", "TNGEventManager", objectId, &opCount_, operations_.Receive(),
                            &objCount_, streams_.Receive()),
            0)
      << TestSandbox::ReadFile(sandbox_.TraceFile());
  EXPECT_EQ(objCount_, 5);
  EXPECT_NE(objectId.find("TNGEventManager@"), std::string::npos);
  // A host name often resolves to 127.0.1.1; Orvex must get the machine's network instead.
  if (MachineHasNetworkAddress()) {
    EXPECT_NE(NetworkId().rfind("127.", 0), 0u) << NetworkId();
  }
}

}  // namespace
