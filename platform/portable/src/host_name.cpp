// The local host's official name through Windows Sockets (the BSD functions on Linux).
#include <auralink/platform/host_name.h>

#include <windows.h>
#include <winsock2.h>
#ifdef _WIN32
#include <ws2tcpip.h>
#endif

namespace auralink::platform {

std::string LocalHostOfficialName() {
  char hostName[256] = {};
  if (gethostname(hostName, sizeof(hostName) - 1) != 0) return {};
  std::string name = hostName;
  if (name.empty()) return name;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* results = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &results) != 0) return name;
  std::string canonical = results && results->ai_canonname ? results->ai_canonname : name;
  freeaddrinfo(results);
  return canonical;
}

}  // namespace auralink::platform
