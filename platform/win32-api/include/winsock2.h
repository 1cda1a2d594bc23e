// Windows Sockets start-up and the BSD host functions (from the system's own headers),
// enough to resolve the local host's name.
#pragma once
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "windef.h"
#include "winerror.h"

#ifndef MAKEWORD
#define MAKEWORD(low, high) ((WORD)(((BYTE)((DWORD_PTR)(low) & 0xff)) | ((WORD)((BYTE)((DWORD_PTR)(high) & 0xff))) << 8))
#endif
#ifndef LOBYTE
#define LOBYTE(w) ((BYTE)(((DWORD_PTR)(w)) & 0xff))
#define HIBYTE(w) ((BYTE)((((DWORD_PTR)(w)) >> 8) & 0xff))
#endif

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
#define WSAVERNOTSUPPORTED 10092L
#define WSAEFAULT 10014L
#define SOCKET_ERROR (-1)

typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

typedef struct hostent HOSTENT, *PHOSTENT, *LPHOSTENT;
typedef struct in_addr IN_ADDR, *PIN_ADDR, *LPIN_ADDR;

// Always available: answers 0 and the version granted, at most 2.2. Versions below 1.0
// answer WSAVERNOTSUPPORTED.
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup(void);
int WSAGetLastError(void);
