#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>

namespace {

struct Gate {
  std::atomic<bool> open{false};
  std::atomic<DWORD> idSeenInside{0};
};

DWORD WINAPI WaitAtGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  gate->idSeenInside = GetCurrentThreadId();
  while (!gate->open) Sleep(1);
  return 42;
}

}  // namespace

TEST(CreateThread, RunsTheRoutineAndReportsItsExitCode) {
  Gate gate;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());

  EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);

  gate.open = true;
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(gate.idSeenInside.load(), id);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(CloseHandle(thread));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(CreateThread, ClosingTheHandleEarlyLetsTheThreadFinish) {
  static std::atomic<bool> finished{false};  // static: the thread may outlive this test body
  HANDLE thread = CreateThread(
      nullptr, 64 * 1024,
      [](LPVOID flag) -> DWORD {
        Sleep(50);
        static_cast<std::atomic<bool>*>(flag)->store(true);
        return 0;
      },
      &finished, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  DWORD start = GetTickCount();
  while (!finished && GetTickCount() - start < 10000) Sleep(1);
  EXPECT_TRUE(finished);
}

TEST(CreateThread, RefusesAMissingRoutineAndSuspendedStart) {
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  Gate gate;
  EXPECT_EQ(CreateThread(nullptr, 0, WaitAtGate, &gate, CREATE_SUSPENDED, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(LastErrorState, IsKeptPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        DWORD inherited = GetLastError();
        SetLastError(ERROR_FILE_NOT_FOUND);
        return inherited;
      },
      nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD seenInside = 99;
  GetExitCodeThread(thread, &seenInside);
  CloseHandle(thread);
  EXPECT_EQ(seenInside, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

namespace {

struct Counter {
  CRITICAL_SECTION lock;
  long plain = 0;  // guarded by lock
  LONG volatile atomic = 0;
};

DWORD WINAPI CountALot(LPVOID parameter) {
  auto* counter = static_cast<Counter*>(parameter);
  for (int i = 0; i < 2000; ++i) {
    EnterCriticalSection(&counter->lock);
    EnterCriticalSection(&counter->lock);  // recursive
    ++counter->plain;
    LeaveCriticalSection(&counter->lock);
    LeaveCriticalSection(&counter->lock);
    InterlockedIncrement(&counter->atomic);
    InterlockedIncrement(&counter->atomic);
    InterlockedDecrement(&counter->atomic);
  }
  return 0;
}

}  // namespace

TEST(ThreadSynchronisation, CriticalSectionsAndInterlockedCountsAgreeAcrossThreads) {
  Counter counter;
  InitializeCriticalSection(&counter.lock);
  HANDLE threads[4];
  for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, CountALot, &counter, 0, nullptr);
  for (HANDLE thread : threads) {
    EXPECT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
  EXPECT_EQ(counter.plain, 8000);
  EXPECT_EQ(counter.atomic, 8000);
  DeleteCriticalSection(&counter.lock);
}

TEST(ThreadSynchronisation, TryEnterFailsWhileAnotherThreadHoldsTheSection) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));  // the owner may enter again
  LeaveCriticalSection(&section);
  HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID s) -> DWORD { return TryEnterCriticalSection(static_cast<LPCRITICAL_SECTION>(s)); },
      &section, 0, nullptr);
  WaitForSingleObject(thread, 10000);
  DWORD entered = 1;
  GetExitCodeThread(thread, &entered);
  CloseHandle(thread);
  EXPECT_EQ(entered, 0u);
  LeaveCriticalSection(&section);
  DeleteCriticalSection(&section);
}

TEST(ThreadSynchronisation, InterlockedOperationsAnswerWindowsValues) {
  LONG volatile value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 9), 5);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 4), 9);  // no match: unchanged
  EXPECT_EQ(value, 9);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(InterlockedExchangeAdd(&value, 10), 1);
  EXPECT_EQ(value, 11);
}

TEST(TickCountAndClock, TickCountFollowsSleepAndAgreesWithTheWideCount) {
  DWORD start = GetTickCount();
  ULONGLONG start64 = GetTickCount64();
  Sleep(120);
  DWORD elapsed = GetTickCount() - start;  // unsigned difference survives the wrap
  EXPECT_GE(elapsed, 120u);
  EXPECT_LT(elapsed, 5000u);
  EXPECT_GE(GetTickCount64() - start64, 120u);
  DWORD narrow = GetTickCount();
  ULONGLONG wide = GetTickCount64();
  EXPECT_LE(static_cast<DWORD>(wide) - narrow, 5u) << "the 32-bit count is the low half of the same clock";
}

TEST(TickCountAndClock, SystemTimeIsTheCurrentUtcCalendarTime) {
  using namespace std::chrono;
  SYSTEMTIME now{};
  GetSystemTime(&now);
  auto reference = floor<seconds>(system_clock::now());
  auto day = year{now.wYear} / month{now.wMonth} / std::chrono::day{now.wDay};
  ASSERT_TRUE(day.ok());
  auto measured = sys_days{day} + hours{now.wHour} + minutes{now.wMinute} + seconds{now.wSecond};
  EXPECT_LE(std::chrono::abs(measured - reference), seconds{2});
  EXPECT_EQ(now.wDayOfWeek, weekday{sys_days{day}}.c_encoding());
  EXPECT_LT(now.wMilliseconds, 1000);

  SYSTEMTIME local{};
  GetLocalTime(&local);
  EXPECT_LT(local.wHour, 24);
  EXPECT_LT(local.wMilliseconds, 1000);
}
