#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>
#include <winsock2.h>

#include <cctype>
#include <string>
#include <auralink/platform/host_name.h>

using auralink::testing::TestSandbox;

TEST(EnvironmentVariables, FollowTheWindowsReturnValues) {
  ASSERT_TRUE(SetEnvironmentVariableA("AURALINK_TEST_APATH", "/opt/adapter"));
  char buffer[64];
  EXPECT_EQ(GetEnvironmentVariableA("AURALINK_TEST_APATH", buffer, sizeof(buffer)), 12u);
  EXPECT_EQ(std::string(buffer), "/opt/adapter");
  EXPECT_EQ(GetEnvironmentVariableA("auralink_test_apath", buffer, sizeof(buffer)), 12u) << "names ignore case";

  char small[12] = "untouched";
  EXPECT_EQ(GetEnvironmentVariableA("AURALINK_TEST_APATH", small, sizeof(small)), 13u) << "needed, with terminator";
  EXPECT_EQ(std::string(small), "untouched");
  EXPECT_EQ(GetEnvironmentVariableA("AURALINK_TEST_APATH", nullptr, 0), 13u);

  ASSERT_TRUE(SetEnvironmentVariableA("AURALINK_TEST_APATH", nullptr));
  SetLastError(0);
  EXPECT_EQ(GetEnvironmentVariableA("AURALINK_TEST_APATH", buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));

  ASSERT_TRUE(SetEnvironmentVariableA("AURALINK_TEST_EMPTY", ""));
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetEnvironmentVariableA("AURALINK_TEST_EMPTY", buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "set but empty";
  EXPECT_FALSE(SetEnvironmentVariableA("BAD=NAME", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(TempPath, EndsWithASeparatorAndFollowsTmpdir) {
  TestSandbox sandbox;
  char saved[MAX_PATH] = "";
  bool hadTmpdir = GetEnvironmentVariableA("TMPDIR", saved, sizeof(saved)) > 0;
  ASSERT_TRUE(SetEnvironmentVariableA("TMPDIR", sandbox.Dir().c_str()));
  char buffer[MAX_PATH];
  DWORD length = GetTempPathA(sizeof(buffer), buffer);
  EXPECT_EQ(std::string(buffer, length), sandbox.Dir() + "/");
  EXPECT_EQ(GetTempPathA(2, buffer), sandbox.Dir().size() + 2);
  ASSERT_TRUE(SetEnvironmentVariableA("TMPDIR", nullptr));
  length = GetTempPathA(sizeof(buffer), buffer);
  EXPECT_EQ(std::string(buffer, length), "/tmp/");
  if (hadTmpdir) SetEnvironmentVariableA("TMPDIR", saved);
}

TEST(FileFunctions, DeleteAndAttributesTellFilesFoldersAndMissingPaths) {
  TestSandbox sandbox;
  std::string file = sandbox.Path("tmp.txt");
  TestSandbox::WriteFile(file, "dump");
  EXPECT_EQ(GetFileAttributesA(file.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(sandbox.Dir().c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  std::string inMissingFolder = sandbox.Path("no-such-folder/tmp.txt");
  EXPECT_FALSE(DeleteFileA(inMissingFolder.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA(""));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA(sandbox.Dir().c_str())) << "folders are not files";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ComputerName, IsShortUpperCaseAndReportsTheSizeItNeeds) {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof(name);
  ASSERT_TRUE(GetComputerNameA(name, &size));
  std::string text(name);
  EXPECT_EQ(size, text.size());
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), static_cast<size_t>(MAX_COMPUTERNAME_LENGTH));
  for (char c : text) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c))) << text;

  char tiny[1];
  DWORD tinySize = sizeof(tiny);
  SetLastError(0);
  EXPECT_FALSE(GetComputerNameA(tiny, &tinySize));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(tinySize, text.size() + 1);

  std::string exact(text.size(), 'x');  // one short: no room for the terminator
  DWORD exactSize = static_cast<DWORD>(exact.size());
  EXPECT_FALSE(GetComputerNameA(exact.data(), &exactSize));
  EXPECT_EQ(exactSize, text.size() + 1);
  EXPECT_FALSE(GetComputerNameA(name, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(WindowsSockets, StartsWithTheVersionAskedForAndNamesTheHost) {
  WSADATA data{};
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(LOBYTE(data.wVersion), 2);
  EXPECT_EQ(HIBYTE(data.wVersion), 2);
  EXPECT_EQ(WSAStartup(MAKEWORD(3, 0), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(2, 2)) << "capped at the highest version";
  EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSACleanup(), 0);

  std::string official = auralink::platform::LocalHostOfficialName();
  EXPECT_FALSE(official.empty());
}
