#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <auralink/platform/error_text.h>

using auralink::platform::LastErrorText;
using auralink::platform::Win32ErrorFromErrno;

TEST(FormatMessage, GivesTheSystemTextWithItsLineEnd) {
  char buffer[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                ERROR_FILE_NOT_FOUND, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                                sizeof(buffer), nullptr);
  EXPECT_EQ(std::string(buffer), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(length, std::strlen(buffer));
}

TEST(FormatMessage, KnowsEveryWin32CodeOfTheHeaders) {
  for (DWORD code : {ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_BUFFER_OVERFLOW,
                     ERROR_INSUFFICIENT_BUFFER, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND, ERROR_ENVVAR_NOT_FOUND,
                     ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_BADKEY, ERROR_CANTWRITE, ERROR_KEY_DELETED,
                     ERROR_DLL_INIT_FAILED, ERROR_TIMEOUT, ERROR_DIRECTORY}) {
    char buffer[512];
    EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof(buffer), nullptr),
              2u)
        << code;
  }
}

TEST(FormatMessage, HandlesSmallAndAllocatedBuffersAndUnknownCodes) {
  char small[8];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, small, sizeof(small), nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  char* allocated = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                nullptr, ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
  ASSERT_NE(allocated, nullptr);
  EXPECT_EQ(std::string(allocated), "Access is denied.");  // no line end with the full width mask
  EXPECT_EQ(length, 17u);
  EXPECT_EQ(LocalFree(allocated), nullptr);

  char buffer[64];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x2BAD, 0, buffer, sizeof(buffer), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(FormatMessage, ReadsHresultsThatWrapWin32Codes) {
  char buffer[128];
  ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), 0, buffer, sizeof(buffer),
                           nullptr),
            0u);
  EXPECT_EQ(std::string(buffer), "Access is denied.\r\n");
  ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(E_FAIL), 0, buffer,
                           sizeof(buffer), nullptr),
            0u);
  EXPECT_EQ(std::string(buffer), "Unspecified error\r\n");
}

TEST(LastErrorText, IsCodeColonTextWithoutLineEnd) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LastErrorText(), "2: The system cannot find the file specified.");
  SetLastError(0x2BAD);
  EXPECT_EQ(LastErrorText(), "11181: Unknown error");
}

TEST(Win32ErrorFromErrno, MapsTheUsualFailures) {
  EXPECT_EQ(Win32ErrorFromErrno(0), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Win32ErrorFromErrno(ENOTDIR), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Win32ErrorFromErrno(EACCES), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Win32ErrorFromErrno(EPERM), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Win32ErrorFromErrno(EEXIST), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Win32ErrorFromErrno(ENOMEM), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(Win32ErrorFromErrno(EINVAL), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Win32ErrorFromErrno(ENOSPC), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(Win32ErrorFromErrno(EBADF), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Win32ErrorFromErrno(ENOEXEC), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(Win32ErrorFromErrno(EDOM), static_cast<DWORD>(ERROR_GEN_FAILURE));
}
