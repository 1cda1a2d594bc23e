// The IPv4 address table, read from the interface list of getifaddrs.
#include <ifaddrs.h>
#include <iphlpapi.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// Owns the list getifaddrs makes.
class InterfaceList {
 public:
  InterfaceList() : ok_(getifaddrs(&first_) == 0), error_(ok_ ? 0 : errno) {}
  ~InterfaceList() {
    if (ok_) freeifaddrs(first_);
  }
  InterfaceList(const InterfaceList&) = delete;
  InterfaceList& operator=(const InterfaceList&) = delete;
  bool Ok() const { return ok_; }
  int Error() const { return error_; }
  const ifaddrs* First() const { return first_; }

 private:
  ifaddrs* first_ = nullptr;
  bool ok_;
  int error_;
};

DWORD AddressOf(const sockaddr* address) {
  if (!address || address->sa_family != AF_INET) return 0;
  sockaddr_in in;
  std::memcpy(&in, address, sizeof in);  // the list's storage need not be aligned for sockaddr_in
  return in.sin_addr.s_addr;
}

std::vector<MIB_IPADDRROW> ReadRows(const InterfaceList& interfaces) {
  std::vector<MIB_IPADDRROW> rows;
  for (const ifaddrs* entry = interfaces.First(); entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    MIB_IPADDRROW row{};
    row.dwAddr = AddressOf(entry->ifa_addr);
    row.dwMask = AddressOf(entry->ifa_netmask);
    row.dwIndex = if_nametoindex(entry->ifa_name);
    row.dwBCastAddr = (entry->ifa_flags & IFF_BROADCAST) ? 1 : 0;
    row.dwReasmSize = 65535;
    row.wType = MIB_IPADDR_PRIMARY;
    if (!(entry->ifa_flags & IFF_UP)) row.wType |= MIB_IPADDR_DISCONNECTED;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

DWORD WINAPI GetIpAddrTable(PMIB_IPADDRTABLE pIpAddrTable, PULONG pdwSize, BOOL bOrder) {
  if (!pdwSize) return ERROR_INVALID_PARAMETER;
  const InterfaceList interfaces;
  if (!interfaces.Ok()) return interfaces.Error() == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_GEN_FAILURE;
  std::vector<MIB_IPADDRROW> rows = ReadRows(interfaces);
  if (bOrder)
    std::stable_sort(rows.begin(), rows.end(), [](const MIB_IPADDRROW& a, const MIB_IPADDRROW& b) {
      return ntohl(a.dwAddr) < ntohl(b.dwAddr);
    });

  const std::size_t needed = offsetof(MIB_IPADDRTABLE, table) + std::max<std::size_t>(rows.size(), 1) * sizeof(MIB_IPADDRROW);
  if (!pIpAddrTable || *pdwSize < needed) {
    *pdwSize = static_cast<ULONG>(needed);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  pIpAddrTable->dwNumEntries = static_cast<DWORD>(rows.size());
  if (!rows.empty()) std::memcpy(pIpAddrTable->table, rows.data(), rows.size() * sizeof(MIB_IPADDRROW));
  return NO_ERROR;
}
