// The computer name and Windows Sockets start-up.
#include <winbase.h>
#include <winsock2.h>

#include <cctype>
#include <cstring>
#include <string>

namespace {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

// A NetBIOS-style name: the first label, upper case, at most 15 characters.
std::string ComputerName() {
  std::string name = HostName();
  name = name.substr(0, name.find('.'));
  if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  if (!nSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name = ComputerName();
  if (name.empty()) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (!lpBuffer || name.size() + 1 > *nSize) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  const BYTE major = LOBYTE(wVersionRequested), minor = HIBYTE(wVersionRequested);
  if (!lpWSAData) return WSAEFAULT;
  std::memset(lpWSAData, 0, sizeof(*lpWSAData));
  lpWSAData->wHighVersion = MAKEWORD(2, 2);
  if (major < 1) {
    lpWSAData->wVersion = MAKEWORD(2, 2);
    return WSAVERNOTSUPPORTED;
  }
  lpWSAData->wVersion = (major > 2 || (major == 2 && minor > 2)) ? MAKEWORD(2, 2) : wVersionRequested;
  std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
  std::strcpy(lpWSAData->szSystemStatus, "Running");
  return 0;
}

int WSACleanup(void) { return 0; }

int WSAGetLastError(void) { return static_cast<int>(GetLastError()); }
