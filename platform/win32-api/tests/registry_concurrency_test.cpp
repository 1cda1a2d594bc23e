// Several processes and threads using one registry file at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <test_sandbox.h>
#include <unistd.h>
#include <winreg.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "registry_test_helpers.h"
#include <auralink/platform/error_text.h>

using auralink::testing::TestSandbox;
using namespace registry_test;

namespace {

// Runs `body` in a child process that first waits for a byte on `start`; the child's exit
// status is what `body` returns.
pid_t Spawn(int start, int (*body)(int), int argument) {
  const pid_t pid = fork();
  if (pid == 0) {
    char go;
    const bool started = read(start, &go, 1) == 1;
    _exit(started ? body(argument) : 99);
  }
  return pid;
}

int WriteFiftyValues(int writer) {
  HKEY shared = nullptr, own = nullptr;
  const std::string ownPath = "SOFTWARE\\Concurrent\\Writer" + std::to_string(writer);
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Concurrent", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &shared,
                      nullptr) != ERROR_SUCCESS ||
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, ownPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &own, nullptr) !=
          ERROR_SUCCESS)
    return 1;
  // Even values into the key all writers share, odd ones into the writer's own key.
  for (int i = 0; i < 50; ++i) {
    const std::string name = "w" + std::to_string(writer) + "v" + std::to_string(i);
    const LSTATUS status =
        i % 2 == 0 ? SetDword(shared, name.c_str(), static_cast<DWORD>(i)) : SetString(own, name.c_str(), name);
    if (status != ERROR_SUCCESS) return 2;
  }
  RegCloseKey(own);
  RegCloseKey(shared);
  return 0;
}

int WriteUntilKilled(int) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Victim", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return 1;
  for (DWORD i = 0;; ++i) {
    const std::string name = "v" + std::to_string(i);
    if (SetString(key, name.c_str(), std::string(200, 'x')) != ERROR_SUCCESS) return 2;
  }
}

}  // namespace

TEST(RegistryConcurrency, ProcessesWritingAtOnceLoseNothing) {
  TestSandbox sandbox;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> writers;
  for (int w = 0; w < 4; ++w) writers.push_back(Spawn(start[0], WriteFiftyValues, w));
  ASSERT_EQ(write(start[1], "gogo", 4), 4);  // release all four together
  close(start[0]);
  close(start[1]);
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }

  ScopedKey shared;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Concurrent", shared), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(shared).size(), 100u);
  EXPECT_EQ(SubkeyNames(shared), (std::vector<std::string>{"Writer0", "Writer1", "Writer2", "Writer3"}));
  for (int w = 0; w < 4; ++w) {
    ScopedKey own;
    ASSERT_EQ(Open(shared, ("Writer" + std::to_string(w)).c_str(), own), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(own).size(), 25u);
    for (int i = 0; i < 50; ++i) {
      const std::string name = "w" + std::to_string(w) + "v" + std::to_string(i);
      if (i % 2 == 0)
        EXPECT_EQ(GetDword(shared, name.c_str()), static_cast<DWORD>(i)) << name;
      else
        EXPECT_EQ(GetString(own, name.c_str()), name);
    }
  }
}

TEST(RegistryConcurrency, WriterKilledMidWayLeavesACompleteFile) {
  TestSandbox sandbox;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  const pid_t writer = Spawn(start[0], WriteUntilKilled, 0);
  ASSERT_EQ(write(start[1], "g", 1), 1);
  close(start[0]);
  close(start[1]);
  // Let it write a few values, then kill it at some moment of a write.
  for (int waited = 0; waited < 1000; ++waited) {
    ScopedKey probe;
    if (Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Victim", probe, KEY_READ) == ERROR_SUCCESS && GetString(probe, "v3")) break;
    usleep(10 * 1000);
  }
  usleep(25 * 1000);
  kill(writer, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;

  // Whatever was last renamed into place is whole: values v0..v(n-1), each complete.
  ScopedKey key;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Victim", key), ERROR_SUCCESS)
      << auralink::platform::LastRegistryErrorText();
  const std::vector<std::string> names = ValueNames(key);
  ASSERT_GE(names.size(), 4u);
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(names[i], "v" + std::to_string(i));
    EXPECT_EQ(GetString(key, names[i].c_str()), std::string(200, 'x'));
  }
  // Writing goes on where the killed process stopped.
  EXPECT_EQ(SetString(key, "after", "ok"), ERROR_SUCCESS);
}

TEST(RegistryConcurrency, ThreadsReadWhileAnotherWrites) {
  TestSandbox sandbox;
  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink\\MarrowbyLst", key), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "LastMsgNr", 0), ERROR_SUCCESS);

  constexpr DWORD kLast = 40;
  std::atomic<bool> failed{false};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      DWORD seen = 0;
      while (seen < kLast && !failed) {
        ScopedKey own;  // each reader opens and closes its own handles too
        if (Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink\\MarrowbyLst", own, KEY_READ) != ERROR_SUCCESS) {
          failed = true;
          break;
        }
        const auto number = GetDword(own, "LastMsgNr");
        if (!number || *number < seen) failed = true;  // never an error, never going back
        if (number) seen = *number;
        std::this_thread::yield();
      }
    });
  }
  std::thread writer([&] {
    for (DWORD n = 1; n <= kLast && !failed; ++n) {
      if (SetDword(key, "LastMsgNr", n) != ERROR_SUCCESS ||
          SetString(key, "LastRefresh", std::to_string(n)) != ERROR_SUCCESS)
        failed = true;
    }
  });
  writer.join();
  for (std::thread& reader : readers) reader.join();
  EXPECT_FALSE(failed);
  EXPECT_EQ(GetDword(key, "LastMsgNr"), kLast);
}
