#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "com_test_helpers.h"
#include "test_sandbox.h"

namespace {

using auralink::testing::CreateKey;
using auralink::testing::ReadString;
using auralink::testing::TestSandbox;

struct RunResult {
  int exitCode = -1;
  std::string output;
};

// Runs auralink-regsvr with the sandbox's registry (inherited through the environment).
RunResult RunRegsvr(const std::string& arguments) {
  RunResult result;
  const std::string command = std::string(AURALINK_REGSVR) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), pipe)) result.output += buffer;
  int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class RegsvrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateKey(HKEY_CLASSES_ROOT, "CLSID");
    CreateKey(HKEY_CLASSES_ROOT, "TypeLib");
    before_ = TestSandbox::ReadFile(sandbox_.RegistryFile());
  }

  TestSandbox sandbox_;
  std::string before_;
};

TEST_F(RegsvrTest, RegistersAndUnregistersAModule) {
  RunResult registered = RunRegsvr(AURALINK_TEST_SERVER);
  EXPECT_EQ(registered.exitCode, 0) << registered.output;
  EXPECT_EQ(registered.output, std::string("DllRegisterServer in ") + AURALINK_TEST_SERVER + " succeeded.\n");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "CLSID\\{1F6C2E84-95A3-4D07-8E21-C45B3A906FD2}\\InprocServer32"),
            AURALINK_TEST_SERVER);

  RunResult unregistered = RunRegsvr(std::string("-u ") + AURALINK_TEST_SERVER);
  EXPECT_EQ(unregistered.exitCode, 0) << unregistered.output;
  EXPECT_EQ(unregistered.output, std::string("DllUnregisterServer in ") + AURALINK_TEST_SERVER + " succeeded.\n");
  EXPECT_EQ(TestSandbox::ReadFile(sandbox_.RegistryFile()), before_);
}

TEST_F(RegsvrTest, EachKindOfFailureHasItsOwnExitCode) {
  const std::string missing = sandbox_.Path("libmissing.so");
  RunResult notLoaded = RunRegsvr(missing);
  EXPECT_EQ(notLoaded.exitCode, 3);
  EXPECT_NE(notLoaded.output.find("LoadLibrary(\"" + missing + "\") failed"), std::string::npos) << notLoaded.output;

  RunResult noEntryPoint = RunRegsvr(AURALINK_PLAIN_LIBRARY);
  EXPECT_EQ(noEntryPoint.exitCode, 4);
  EXPECT_NE(noEntryPoint.output.find("the DllRegisterServer entry point was not found"), std::string::npos)
      << noEntryPoint.output;

  // A registry that cannot be read makes the server's registration fail.
  TestSandbox::WriteFile(sandbox_.RegistryFile(), "this is not a registry file\n");
  RunResult failed = RunRegsvr(AURALINK_TEST_SERVER);
  EXPECT_EQ(failed.exitCode, 5);
  EXPECT_NE(failed.output.find(std::string("DllRegisterServer in ") + AURALINK_TEST_SERVER + " failed: 0x800703F7"),
            std::string::npos)
      << failed.output;
  EXPECT_EQ(TestSandbox::ReadFile(sandbox_.RegistryFile()), "this is not a registry file\n");

  EXPECT_EQ(RunRegsvr("").exitCode, 1);
  EXPECT_EQ(RunRegsvr("-x " + std::string(AURALINK_TEST_SERVER)).exitCode, 1);
}

TEST_F(RegsvrTest, GoesOnAfterAFailureAndReportsIt) {
  const std::string missing = sandbox_.Path("libmissing.so");
  RunResult result = RunRegsvr(missing + " " + AURALINK_TEST_SERVER);
  EXPECT_EQ(result.exitCode, 3) << result.output;
  EXPECT_NE(result.output.find(std::string("DllRegisterServer in ") + AURALINK_TEST_SERVER + " succeeded."),
            std::string::npos)
      << result.output;
}

}  // namespace
