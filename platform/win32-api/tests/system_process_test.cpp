#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>

#include <string>

namespace {

// Starts a command line and answers the process information (handles closed by the test).
bool Start(std::string commandLine, PROCESS_INFORMATION& info, LPVOID environment = nullptr,
           const char* directory = nullptr, DWORD flags = NORMAL_PRIORITY_CLASS) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags, environment, directory, &startup,
                        &info) != FALSE;
}

DWORD RunToEnd(const std::string& commandLine, LPVOID environment = nullptr, const char* directory = nullptr) {
  PROCESS_INFORMATION info{};
  EXPECT_TRUE(Start(commandLine, info, environment, directory)) << commandLine << ": " << GetLastError();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 10000), WAIT_OBJECT_0);
  DWORD code = 12345;
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

}  // namespace

TEST(CreateProcess, ReportsTheChildsExitCodeAfterTheWait) {
  EXPECT_EQ(RunToEnd("/bin/sh -c \"exit 3\""), 3u);
  EXPECT_EQ(RunToEnd("/bin/sh -c \"exit 0\""), 0u);
}

TEST(CreateProcess, FindsABareProgramNameOnThePath) {
  EXPECT_EQ(RunToEnd("sh -c \"exit 4\""), 4u);
}

TEST(CreateProcess, PassesQuotedArgumentsAsSingleWords) {
  // $# counts the words after "-c script name"; the quoted pair must arrive as one.
  EXPECT_EQ(RunToEnd(R"(sh -c "exit $#" name "one two" three)"), 2u);
  EXPECT_EQ(RunToEnd(R"(sh -c "test \"$1\" = 'a \"b\"'" name "a \"b\"")"), 0u);
}

TEST(CreateProcess, AMissingProgramFailsWithFileNotFound) {
  PROCESS_INFORMATION info{};
  SetLastError(0);
  EXPECT_FALSE(Start("auralink-no-such-program-3b1f arg", info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Start("/nonexistent/dir/cautil", info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(info.hProcess, nullptr);
}

TEST(CreateProcess, RefusesBadArguments) {
  PROCESS_INFORMATION info{};
  EXPECT_FALSE(Start("", info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(Start("sh -c true", info, nullptr, "/nonexistent/folder"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  STARTUPINFOA startup{};
  char line[] = "sh -c true";
  EXPECT_FALSE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CreateProcess, UsesTheGivenEnvironmentBlockAndDirectory) {
  auralink::testing::TestSandbox sandbox;
  const char block[] = "AURALINK_PROBE=42\0OTHER=x\0";
  EXPECT_EQ(RunToEnd("/bin/sh -c \"exit $AURALINK_PROBE\"", const_cast<char*>(block)), 42u);
  EXPECT_EQ(RunToEnd("/bin/sh -c \"pwd > here.txt\"", nullptr, sandbox.Dir().c_str()), 0u);
  EXPECT_NE(GetFileAttributesA(sandbox.Path("here.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CreateProcess, WaitTimesOutWhileTheChildRunsAndTerminateEndsIt) {
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(Start("sleep 30", info, nullptr, nullptr, CREATE_NO_WINDOW));
  DWORD before = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 100), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - before, 90u);
  EXPECT_EQ(WaitForSingleObject(info.hThread, 0), WAIT_TIMEOUT);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  ASSERT_TRUE(GetExitCodeThread(info.hThread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);

  EXPECT_TRUE(TerminateProcess(info.hProcess, 7));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(info.hThread, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 7u);
  ASSERT_TRUE(GetExitCodeThread(info.hThread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(TerminateProcess(info.hProcess, 1));  // already ended
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(info.hThread));
  EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST(CreateProcess, SeveralThreadsMayWaitForOneChild) {
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(Start("sh -c \"sleep 0.2; exit 5\"", info));
  auto waiter = [](LPVOID process) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(process), 10000); };
  HANDLE threads[3];
  for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, waiter, info.hProcess, 0, nullptr);
  for (HANDLE thread : threads) {
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD result = 99;
    GetExitCodeThread(thread, &result);
    EXPECT_EQ(result, WAIT_OBJECT_0);
    CloseHandle(thread);
  }
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  EXPECT_EQ(code, 5u);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

TEST(KernelHandles, ClosingTwiceOrAnUnknownHandleFailsWithoutHarm) {
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(Start("sh -c true", info));
  EXPECT_TRUE(CloseHandle(info.hThread));
  EXPECT_TRUE(CloseHandle(info.hProcess));  // before the child ended: it is reaped later
  for (HANDLE bad : {info.hProcess, info.hThread, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr),
                     reinterpret_cast<HANDLE>(0x12345)}) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(bad, &code));
    EXPECT_FALSE(GetExitCodeThread(bad, &code));
    EXPECT_FALSE(TerminateProcess(bad, 0));
  }
}

TEST(KernelHandles, ProcessAndThreadFunctionsRefuseTheOtherKindOfHandle) {
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(Start("sh -c true", info));
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeProcess(info.hThread, &code));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(GetExitCodeThread(info.hProcess, &code));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}
