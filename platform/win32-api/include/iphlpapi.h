// IP Helper: the machine's table of IPv4 interface addresses.
#pragma once
#include "windef.h"
#include "winerror.h"

typedef ULONG* PULONG;

// wType flags of an address row.
#define MIB_IPADDR_PRIMARY 0x0001
#define MIB_IPADDR_DYNAMIC 0x0004
#define MIB_IPADDR_DISCONNECTED 0x0008
#define MIB_IPADDR_DELETED 0x0040
#define MIB_IPADDR_TRANSIENT 0x0080

typedef struct _MIB_IPADDRROW {
  DWORD dwAddr;       // network byte order
  DWORD dwIndex;      // the interface's index
  DWORD dwMask;       // network byte order
  DWORD dwBCastAddr;  // 1 when the interface broadcasts
  DWORD dwReasmSize;
  unsigned short unused1;
  unsigned short wType;
} MIB_IPADDRROW, *PMIB_IPADDRROW;

typedef struct _MIB_IPADDRTABLE {
  DWORD dwNumEntries;
  MIB_IPADDRROW table[1];
} MIB_IPADDRTABLE, *PMIB_IPADDRTABLE;

// Fills pIpAddrTable with one row per IPv4 address of the machine's interfaces, in the
// order the system lists them (by address when bOrder is TRUE); an interface that is not
// up has MIB_IPADDR_DISCONNECTED in its row. NO_ERROR; ERROR_INSUFFICIENT_BUFFER with the
// size needed in *pdwSize when the table is null or smaller; ERROR_INVALID_PARAMETER
// without pdwSize; ERROR_NOT_ENOUGH_MEMORY or ERROR_GEN_FAILURE when the system cannot say.
DWORD WINAPI GetIpAddrTable(PMIB_IPADDRTABLE pIpAddrTable, PULONG pdwSize, BOOL bOrder);
