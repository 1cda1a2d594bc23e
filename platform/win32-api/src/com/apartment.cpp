// COM initialisation per thread. A thread enters one apartment model with its first
// CoInitialize(Ex) and keeps it until its calls are balanced by CoUninitialize; asking
// for the other model in between answers RPC_E_CHANGED_MODE and is not counted.
#include <objbase.h>

#include <atomic>

#include "com_internal.h"

namespace {

// Threads currently in the multithreaded apartment.
std::atomic<int> threadsInMultithreadedApartment{0};

struct ThreadApartment {
  int initCount = 0;
  bool multithreaded = false;

  // A thread that ends without balancing its calls leaves the apartment anyway.
  ~ThreadApartment() {
    if (initCount > 0 && multithreaded) --threadsInMultithreadedApartment;
  }
};

thread_local ThreadApartment apartment;

constexpr DWORD kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  if (pvReserved || (dwCoInit & ~kKnownFlags)) return E_INVALIDARG;
  const bool multithreaded = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
  if (apartment.initCount > 0) {
    if (apartment.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    ++apartment.initCount;
    return S_FALSE;
  }
  apartment.initCount = 1;
  apartment.multithreaded = multithreaded;
  if (multithreaded) ++threadsInMultithreadedApartment;
  return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (apartment.initCount == 0) return;
  if (--apartment.initCount == 0 && apartment.multithreaded) --threadsInMultithreadedApartment;
}

// There is no remoting, so there is no security to set up.
HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) { return S_OK; }

namespace auralink::platform::com {

bool IsComUsableOnThisThread() { return apartment.initCount > 0 || threadsInMultithreadedApartment.load() > 0; }

}  // namespace auralink::platform::com
