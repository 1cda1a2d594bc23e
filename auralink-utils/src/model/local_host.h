// The local host as the network sees it: its official name and its IPv4 address.
#pragma once
#include <windows.h>
#include <iphlpapi.h>
#include <windef.h>

#include <string>

namespace auralink::model {

struct LocalHost {
  std::string name;
  DWORD address = 0;  // first byte of the dotted form in the top byte
};

// Reads the machine's IPv4 address table as GetIpAddrTable does.
using AddressTableReader = DWORD (*)(PMIB_IPADDRTABLE, PULONG, BOOL);

// The address that stands for the host: the first address of the table that belongs to a
// connected interface and is neither loopback nor unset. Only when there is none does
// `resolved`, the address the host name resolves to (0 for none), stand for it; a name
// often resolves to a loopback address such as 127.0.1.1. Traces which one was taken.
// 0 when neither gives one.
DWORD ChooseHostAddress(const std::string& hostName, DWORD resolved, AddressTableReader readTable);

// Asks Windows Sockets for the computer's official name and its address as
// ChooseHostAddress does with GetIpAddrTable. False, with the reason in problem, when
// sockets cannot start, the host has no name or no IPv4 address.
bool FindLocalHost(LocalHost& host, std::string& problem);

}  // namespace auralink::model
