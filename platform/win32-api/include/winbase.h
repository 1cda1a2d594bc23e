// Processes, threads, time, synchronisation, the last error, modules, environment,
// files and the computer name: the kernel side of the Windows API, on Linux.
// Only the ANSI ("A") variants exist; the plain names forward to them.
#pragma once
#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "windef.h"
#include "winerror.h"

// ---------------------------------------------------------------------------------------
// Handles and waiting
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#ifndef WAIT_TIMEOUT
#define WAIT_TIMEOUT 258u
#endif
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// Closing an unknown, already closed or invalid handle answers FALSE with
// ERROR_INVALID_HANDLE; it never crashes.
BOOL WINAPI CloseHandle(HANDLE hObject);
// Works on process and thread handles (a process's primary-thread handle ends with it).
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// ---------------------------------------------------------------------------------------
// Processes
#define DEBUG_PROCESS 0x00000001u
#define DEBUG_ONLY_THIS_PROCESS 0x00000002u
#define CREATE_SUSPENDED 0x00000004u
#define DETACHED_PROCESS 0x00000008u
#define CREATE_NEW_CONSOLE 0x00000010u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define IDLE_PRIORITY_CLASS 0x00000040u
#define HIGH_PRIORITY_CLASS 0x00000080u
#define REALTIME_PRIORITY_CLASS 0x00000100u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define CREATE_DEFAULT_ERROR_MODE 0x04000000u
#define CREATE_NO_WINDOW 0x08000000u

#define STARTF_USESHOWWINDOW 0x00000001u
#define STARTF_USESTDHANDLES 0x00000100u
#define SW_HIDE 0
#define SW_SHOWNORMAL 1

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;
typedef STARTUPINFOA STARTUPINFO;
typedef LPSTARTUPINFOA LPSTARTUPINFO;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Starts a child from one command line split by the Windows rules (SplitCommandLine).
// Without an application name the first word is the program, searched on the PATH when
// it holds no slash. A program that cannot be started answers FALSE with the error of the
// exec (ERROR_FILE_NOT_FOUND for a missing program), never a child that exits at once.
// Window, priority and console flags are accepted and have no effect; the standard
// handles of STARTUPINFOA are not redirected; the child inherits the caller's open
// descriptors. lpEnvironment is a narrow "NAME=value\0...\0\0" block
// (CREATE_UNICODE_ENVIRONMENT with a block is refused with ERROR_INVALID_PARAMETER).
// hThread is the child's primary thread: it can be waited for and closed.
BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                           BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation);
inline BOOL WINAPI CreateProcess(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                 LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                 LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                                 DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                                 LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  return CreateProcessA(lpApplicationName, lpCommandLine, lpProcessAttributes, lpThreadAttributes,
                        bInheritHandles, dwCreationFlags, lpEnvironment, lpCurrentDirectory, lpStartupInfo,
                        lpProcessInformation);
}
// A child that was not waited for ends with the code it exited with; one ended by a
// signal other than TerminateProcess's reports 128 + the signal number.
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode);
DWORD WINAPI GetCurrentProcessId(void);

// ---------------------------------------------------------------------------------------
// Threads
typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

// The thread runs at once (CREATE_SUSPENDED is refused with ERROR_NOT_SUPPORTED) and
// goes on when its handle is closed. *lpThreadId receives the same identifier that
// GetCurrentThreadId answers inside the thread.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                           LPDWORD lpThreadId);
BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
DWORD WINAPI GetCurrentThreadId(void);

// ---------------------------------------------------------------------------------------
// Time
typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

// Sleep(INFINITE) never returns; Sleep(0) gives up the rest of the time slice.
VOID WINAPI Sleep(DWORD dwMilliseconds);
// Milliseconds of a monotonic clock; the 32-bit count wraps after about 49.7 days.
DWORD WINAPI GetTickCount(void);
ULONGLONG WINAPI GetTickCount64(void);
VOID WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
VOID WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);  // UTC

// ---------------------------------------------------------------------------------------
// Interlocked operations: full barriers, like Windows.
inline LONG InterlockedIncrement(LONG volatile* addend) { return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* addend) { return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value) {
  return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;  // the initial value, whether or not the exchange happened
}
inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* destination, PVOID exchange, PVOID comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

// ---------------------------------------------------------------------------------------
// Critical sections: recursive locks. The storage holds the lock itself, so a
// CRITICAL_SECTION must not be copied or moved after InitializeCriticalSection.
typedef struct _CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];
} CRITICAL_SECTION, *PCRITICAL_SECTION, *LPCRITICAL_SECTION;

VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// ---------------------------------------------------------------------------------------
// The last error (per thread) and its texts
DWORD WINAPI GetLastError(void);
VOID WINAPI SetLastError(DWORD dwErrCode);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

typedef HANDLE HLOCAL;
// Messages come from the system table (the Win32 codes of winerror.h and common
// HRESULTs, which end in "\r\n" like Windows) or, with FORMAT_MESSAGE_FROM_STRING, from
// lpSource. Inserts such as %1 are never expanded. With FORMAT_MESSAGE_ALLOCATE_BUFFER,
// lpBuffer is a char** that receives a buffer to release with LocalFree. An unknown
// code answers 0 with ERROR_MR_MID_NOT_FOUND.
DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                            DWORD nSize, va_list* Arguments);
inline DWORD WINAPI FormatMessage(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                  LPSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  return FormatMessageA(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments);
}
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL WINAPI LocalFree(HLOCAL hMem);
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// ---------------------------------------------------------------------------------------
// Modules (shared objects). An HMODULE is the dynamic loader's handle of the object.
// Only handles handed out by these functions are accepted; others answer
// ERROR_INVALID_HANDLE (or ERROR_MOD_NOT_FOUND where Windows says so).
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

// Generic function pointer: void(*)() converts to any other function type without a
// cast-function-type warning.
typedef void (*FARPROC)();

// Loads now and privately (symbols are not made global). Failure: NULL with
// ERROR_MOD_NOT_FOUND; the loader's own text is kept in LastLoaderErrorText.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
inline HMODULE WINAPI LoadLibrary(LPCSTR lpLibFileName) { return LoadLibraryA(lpLibFileName); }
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
// NULL: the running program. A name: a module that is already loaded (no reference).
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
inline HMODULE WINAPI GetModuleHandle(LPCSTR lpModuleName) { return GetModuleHandleA(lpModuleName); }
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, lpModuleName is an address inside the
// module sought (how a server finds its own file).
BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);
inline BOOL WINAPI GetModuleHandleEx(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
  return GetModuleHandleExA(dwFlags, lpModuleName, phModule);
}
// NULL: the running program's file. Answers the length copied without the terminator;
// a short buffer gets the truncated, terminated path, the answer nSize and
// ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
inline DWORD WINAPI GetModuleFileName(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  return GetModuleFileNameA(hModule, lpFilename, nSize);
}

// ---------------------------------------------------------------------------------------
// Environment, temporary folder and files. Functions that fill a buffer answer the length
// without the terminator, or, when the buffer is too small, the size needed including it.
DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
inline DWORD WINAPI GetEnvironmentVariable(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  return GetEnvironmentVariableA(lpName, lpBuffer, nSize);
}
// A NULL value removes the variable.
BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue);
inline BOOL WINAPI SetEnvironmentVariable(LPCSTR lpName, LPCSTR lpValue) {
  return SetEnvironmentVariableA(lpName, lpValue);
}
// TMPDIR or /tmp, always ending in "/".
DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
inline DWORD WINAPI GetTempPath(DWORD nBufferLength, LPSTR lpBuffer) { return GetTempPathA(nBufferLength, lpBuffer); }
// Linux has no 8.3 names: the path itself, provided that it exists.
DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer);
inline DWORD WINAPI GetShortPathName(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  return GetShortPathNameA(lpszLongPath, lpszShortPath, cchBuffer);
}
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
inline BOOL WINAPI DeleteFile(LPCSTR lpFileName) { return DeleteFileA(lpFileName); }

#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
inline DWORD WINAPI GetFileAttributes(LPCSTR lpFileName) { return GetFileAttributesA(lpFileName); }

// ---------------------------------------------------------------------------------------
// The computer name: the host name's first label in upper case, at most
// MAX_COMPUTERNAME_LENGTH characters. *nSize is the buffer size in; the length copied
// (success) or the size needed including the terminator (FALSE, ERROR_BUFFER_OVERFLOW)
// out.
#define MAX_COMPUTERNAME_LENGTH 15
BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
inline BOOL WINAPI GetComputerName(LPSTR lpBuffer, LPDWORD nSize) { return GetComputerNameA(lpBuffer, nSize); }

