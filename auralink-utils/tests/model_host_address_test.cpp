#include <auralink/subnet_mask.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>
#include <winsock2.h>

#include <cstring>
#include <vector>

#include "model/local_host.h"

namespace {

using auralink::model::ChooseHostAddress;
using auralink::testing::TestSandbox;

// The address table the fake reader serves, how it fails, and how often it grows between
// the size query and the read (an interface coming up meanwhile).
std::vector<MIB_IPADDRROW> fakeRows;
DWORD fakeFailure = NO_ERROR;
int fakeGrowths = 0;

MIB_IPADDRROW Row(const char* address, unsigned short type = MIB_IPADDR_PRIMARY) {
  MIB_IPADDRROW row{};
  row.dwAddr = htonl(*auralink::model::ParseDottedQuad(address));
  row.dwIndex = static_cast<DWORD>(fakeRows.size() + 1);
  row.wType = type;
  return row;
}

DWORD FakeTable(PMIB_IPADDRTABLE table, PULONG size, BOOL) {
  if (fakeFailure != NO_ERROR) return fakeFailure;
  if (table && fakeGrowths > 0) {
    --fakeGrowths;
    fakeRows.push_back(Row("203.0.113.9"));
  }
  const ULONG needed = static_cast<ULONG>(sizeof(DWORD) + sizeof(MIB_IPADDRROW) * (fakeRows.size() + 1));
  if (!table || *size < needed) {
    *size = needed;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  table->dwNumEntries = static_cast<DWORD>(fakeRows.size());
  std::memcpy(table->table, fakeRows.data(), fakeRows.size() * sizeof(MIB_IPADDRROW));
  return NO_ERROR;
}

class HostAddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeRows.clear();
    fakeFailure = NO_ERROR;
    fakeGrowths = 0;
    CTraceUtils::GetInstance()->LogInitAppend(sandbox_.TraceFile().c_str(), -1, 0, -1);
  }
  void TearDown() override { CTraceUtils::GetInstance()->Close(); }
  // The address taken when the host name resolves to 127.0.1.1, as on a standard Debian machine.
  std::string Chosen() {
    return auralink::model::FormatDottedQuad(ChooseHostAddress("host1", 0x7F000101, FakeTable));
  }
  bool Traced(const std::string& text) const {
    return TestSandbox::ReadFile(sandbox_.TraceFile()).find(text) != std::string::npos;
  }

  TestSandbox sandbox_;
};

TEST_F(HostAddressTest, FirstConnectedInterfaceAddressWinsOverTheResolvedOne) {
  fakeRows = {Row("127.0.0.1"), Row("0.0.0.0"), Row("10.9.9.9", MIB_IPADDR_PRIMARY | MIB_IPADDR_DISCONNECTED),
              Row("192.0.2.2"), Row("10.1.1.1")};
  EXPECT_EQ(Chosen(), "192.0.2.2");
  EXPECT_TRUE(Traced("The host host1 is described at 192.0.2.2, the first address of its network interfaces"));

  fakeRows = {Row("127.0.0.1")};
  fakeGrowths = 2;  // read again until the buffer holds the grown table
  EXPECT_EQ(Chosen(), "203.0.113.9");
}

TEST_F(HostAddressTest, ResolvedAddressOnlyWhenNoInterfaceHasAnother) {
  fakeRows = {Row("127.0.0.1"), Row("127.0.1.1")};
  EXPECT_EQ(Chosen(), "127.0.1.1");
  EXPECT_TRUE(Traced("The host host1 is described at 127.0.1.1, the address its name resolves to"));

  fakeFailure = ERROR_GEN_FAILURE;
  EXPECT_EQ(Chosen(), "127.0.1.1");
  EXPECT_TRUE(Traced("The network interfaces of the host host1 cannot be listed (error 31)"));
  EXPECT_EQ(ChooseHostAddress("host1", 0, FakeTable), 0u) << "neither gives an address";
}

}  // namespace
