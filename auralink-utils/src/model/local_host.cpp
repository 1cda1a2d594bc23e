#include "model/local_host.h"

#include <winsock2.h>

namespace auralink::model {

namespace {

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

}  // namespace

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
  if (getaddrinfo(name, nullptr, &hints, &results) != 0 || !results) {
    problem = std::string("the local host ") + name + " has no IPv4 address";
    return false;
  }
  const auto* address = reinterpret_cast<const sockaddr_in*>(results->ai_addr);
  host.name = results->ai_canonname && results->ai_canonname[0] ? results->ai_canonname : name;
  host.address = ntohl(address->sin_addr.s_addr);
  freeaddrinfo(results);
  return true;
}

}  // namespace auralink::model
