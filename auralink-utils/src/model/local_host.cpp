#include "model/local_host.h"

#include <auralink/subnet_mask.h>
#include <auralink/trace_utils.h>
#include <windows.h>
#include <winsock2.h>
#ifdef _WIN32
#include <ws2tcpip.h>  // getaddrinfo
#endif

#include <cstddef>
#include <vector>

namespace auralink::model {

namespace {

constexpr const char* kComponent = "ObjectTree";

// Keeps Windows Sockets started for as long as it lives.
class SocketsSession {
 public:
  SocketsSession() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~SocketsSession() {
    if (started_) WSACleanup();
  }
  SocketsSession(const SocketsSession&) = delete;
  SocketsSession& operator=(const SocketsSession&) = delete;
  bool Started() const { return started_; }

 private:
  bool started_ = false;
};

bool IsLoopback(DWORD address) { return (address >> 24) == 127; }

// The table's rows, or none when it cannot be read. An interface may come up between
// asking for the size and reading, so the size is asked again a few times.
std::vector<MIB_IPADDRROW> ReadAddressTable(AddressTableReader readTable, DWORD& result) {
  std::vector<MIB_IPADDRROW> rows;
  ULONG size = 0;
  std::vector<unsigned char> buffer;
  result = readTable(nullptr, &size, FALSE);
  for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.assign(size, 0);
    result = readTable(reinterpret_cast<PMIB_IPADDRTABLE>(buffer.data()), &size, FALSE);
  }
  if (result != NO_ERROR || buffer.size() < sizeof(DWORD)) return rows;
  const auto* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.data());
  const std::size_t room = (buffer.size() - offsetof(MIB_IPADDRTABLE, table)) / sizeof(MIB_IPADDRROW);
  const std::size_t count = table->dwNumEntries < room ? table->dwNumEntries : room;
  rows.assign(table->table, table->table + count);
  return rows;
}

}  // namespace

DWORD ChooseHostAddress(const std::string& hostName, DWORD resolved, AddressTableReader readTable) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  DWORD result = NO_ERROR;
  for (const MIB_IPADDRROW& row : ReadAddressTable(readTable, result)) {
    const DWORD address = ntohl(row.dwAddr);
    if (address == 0 || IsLoopback(address) || (row.wType & (MIB_IPADDR_DISCONNECTED | MIB_IPADDR_DELETED))) continue;
    trace->LogMsg(2, kComponent, "The host %s is described at %s, the first address of its network interfaces",
                  hostName.c_str(), FormatDottedQuad(address).c_str());
    return address;
  }
  if (result != NO_ERROR)
    trace->LogMsg(2, kComponent, "The network interfaces of the host %s cannot be listed (error %u)", hostName.c_str(),
                  static_cast<unsigned>(result));
  if (resolved != 0)
    trace->LogMsg(2, kComponent,
                  "The host %s is described at %s, the address its name resolves to: no network interface has another",
                  hostName.c_str(), FormatDottedQuad(resolved).c_str());
  return resolved;
}

bool FindLocalHost(LocalHost& host, std::string& problem) {
  SocketsSession sockets;
  if (!sockets.Started()) {
    problem = "Windows Sockets cannot start";
    return false;
  }
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
    problem = "the local host has no name";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* results = nullptr;
  DWORD resolved = 0;
  std::string officialName = name;
  if (getaddrinfo(name, nullptr, &hints, &results) == 0 && results) {
    resolved = ntohl(reinterpret_cast<const sockaddr_in*>(results->ai_addr)->sin_addr.s_addr);
    if (results->ai_canonname && results->ai_canonname[0]) officialName = results->ai_canonname;
    freeaddrinfo(results);
  }
  const DWORD address = ChooseHostAddress(officialName, resolved, GetIpAddrTable);
  if (address == 0) {
    problem = "the local host " + officialName + " has no IPv4 address";
    return false;
  }
  host.name = officialName;
  host.address = address;
  return true;
}

}  // namespace auralink::model
