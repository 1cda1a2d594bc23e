// CRITICAL_SECTION as a recursive mutex living inside the caller's structure.
#include <mutex>
#include <new>

#include <winbase.h>

namespace {

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque), "CRITICAL_SECTION too small");
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION), "CRITICAL_SECTION misaligned");

std::recursive_mutex& MutexOf(LPCRITICAL_SECTION section) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->opaque));
}

}  // namespace

VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  new (lpCriticalSection->opaque) std::recursive_mutex();
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD /*dwSpinCount*/) {
  InitializeCriticalSection(lpCriticalSection);
  return TRUE;
}

VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { MutexOf(lpCriticalSection).lock(); }

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  return MutexOf(lpCriticalSection).try_lock() ? TRUE : FALSE;
}

VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { MutexOf(lpCriticalSection).unlock(); }

VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  MutexOf(lpCriticalSection).~recursive_mutex();
}
