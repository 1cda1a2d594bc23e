#include <gtest/gtest.h>
#include <iphlpapi.h>
#include <winsock2.h>

#include <vector>

// Every machine has the loopback interface, so the table is never empty and 127.0.0.1
// must appear in network byte order with its 255.0.0.0 mask.
TEST(IpAddressTable, SizesTheBufferThenListsTheLoopbackAddress) {
  EXPECT_EQ(GetIpAddrTable(nullptr, nullptr, FALSE), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ULONG size = 0;
  ASSERT_EQ(GetIpAddrTable(nullptr, &size, FALSE), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GE(size, sizeof(MIB_IPADDRTABLE));
  ULONG tooSmall = size - 1;
  std::vector<unsigned char> buffer(size + 4 * sizeof(MIB_IPADDRROW));  // room for an interface coming up meanwhile
  auto* table = reinterpret_cast<PMIB_IPADDRTABLE>(buffer.data());
  EXPECT_EQ(GetIpAddrTable(table, &tooSmall, FALSE), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(tooSmall, size);

  size = static_cast<ULONG>(buffer.size());
  ASSERT_EQ(GetIpAddrTable(table, &size, TRUE), static_cast<DWORD>(NO_ERROR));
  ASSERT_GE(table->dwNumEntries, 1u);
  const MIB_IPADDRROW* loopback = nullptr;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    if (i > 0) {
      EXPECT_LE(ntohl(table->table[i - 1].dwAddr), ntohl(table->table[i].dwAddr)) << "ordered by address";
    }
    if (table->table[i].dwAddr == htonl(INADDR_LOOPBACK)) loopback = &table->table[i];
  }
  ASSERT_NE(loopback, nullptr);
  EXPECT_EQ(loopback->dwMask, htonl(0xFF000000u));
  EXPECT_NE(loopback->dwIndex, 0u);
}
