// The local host as the network sees it: its official name and its IPv4 address.
#pragma once
#include <windef.h>

#include <string>

namespace auralink::model {

struct LocalHost {
  std::string name;
  DWORD address = 0;  // first byte of the dotted form in the top byte
};

// Asks Windows Sockets for the computer's host entry. False, with the reason in problem,
// when sockets cannot start or the name has no IPv4 address.
bool FindLocalHost(LocalHost& host, std::string& problem);

}  // namespace auralink::model
