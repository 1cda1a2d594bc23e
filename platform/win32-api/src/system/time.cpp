// Sleeping, the millisecond tick count and the calendar time.
#include <sched.h>
#include <time.h>

#include <cerrno>

#include <winbase.h>

namespace {

ULONGLONG MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}

void FillSystemTime(const tm& calendar, long nanoseconds, LPSYSTEMTIME out) {
  out->wYear = static_cast<WORD>(calendar.tm_year + 1900);
  out->wMonth = static_cast<WORD>(calendar.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(calendar.tm_wday);
  out->wDay = static_cast<WORD>(calendar.tm_mday);
  out->wHour = static_cast<WORD>(calendar.tm_hour);
  out->wMinute = static_cast<WORD>(calendar.tm_min);
  // A leap second (tm_sec 60) has no SYSTEMTIME form.
  out->wSecond = static_cast<WORD>(calendar.tm_sec > 59 ? 59 : calendar.tm_sec);
  out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

}  // namespace

VOID WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) {
      timespec day{86400, 0};
      nanosleep(&day, nullptr);
    }
  }
  timespec left{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(MonotonicMilliseconds()); }

ULONGLONG WINAPI GetTickCount64(void) { return MonotonicMilliseconds(); }

VOID WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  if (!lpSystemTime) return;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm calendar{};
  localtime_r(&now.tv_sec, &calendar);
  FillSystemTime(calendar, now.tv_nsec, lpSystemTime);
}

VOID WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  if (!lpSystemTime) return;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm calendar{};
  gmtime_r(&now.tv_sec, &calendar);
  FillSystemTime(calendar, now.tv_nsec, lpSystemTime);
}
