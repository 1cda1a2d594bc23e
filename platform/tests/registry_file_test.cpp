// The registry file: its text, escaping, hand-written files, corrupt files, and reading
// from memory until the file changes.
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <winreg.h>

#include <cstdio>
#include <filesystem>

#include "../src/registry/registry_store.h"
#include "registry_test_helpers.h"

using auralink::platform::LastRegistryErrorText;
using auralink::platform::registry::Store;
using auralink::testing::TestSandbox;
using namespace registry_test;

namespace {
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// Points the registry at another file of the sandbox.
void UseFile(const TestSandbox& sandbox, const std::string& name) {
  setenv("AURALINK_REGISTRY", sandbox.Path(name).c_str(), 1);
}
}  // namespace

TEST(RegistryFile, IsWrittenAsARegistryExport) {
  TestSandbox sandbox;
  ScopedKey auralink, marrowby, console;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink", auralink), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(auralink, "TraceLevel", 0x3c), ERROR_SUCCESS);
  ASSERT_EQ(Create(auralink, "MarrowbyLst", marrowby), ERROR_SUCCESS);
  ASSERT_EQ(SetString(marrowby, nullptr, "x"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(marrowby, "LastRefresh", ""), ERROR_SUCCESS);
  ASSERT_EQ(Create(HKEY_CURRENT_USER, "Console", console), ERROR_SUCCESS);
  ASSERT_EQ(SetString(console, "a", "b"), ERROR_SUCCESS);

  EXPECT_EQ(TestSandbox::ReadFile(sandbox.RegistryFile()),
            kHeader +
                "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova]\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink]\n"
                "\"TraceLevel\"=dword:0000003c\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink\\MarrowbyLst]\n"
                "@=\"x\"\n"
                "\"LastRefresh\"=\"\"\n\n"
                "[HKEY_CURRENT_USER\\Console]\n"
                "\"a\"=\"b\"\n\n");
  EXPECT_TRUE(std::filesystem::exists(sandbox.RegistryFile() + ".lock"));
}

TEST(RegistryFile, TextSurvivesTheRoundTripThroughTheFile) {
  TestSandbox sandbox;
  const std::string name = "Say \"hi\" = \\ok";
  const std::string text = "C:\\Program Files\\\"quoted\"\\=x; Grüße, 東京";
  const std::string lines = "first line\nsecond line\r\n";
  const BYTE multi[] = {'a', 0, 'b', 0, 0};
  {
    ScopedKey key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ünïcode [key]", key), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, name.c_str(), text), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, "Lines", lines), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%TEMP%\\x"), 9),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Multi", 0, REG_MULTI_SZ, multi, sizeof multi), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Odd", 0, REG_DWORD, multi, 2), ERROR_SUCCESS);
  }
  const std::string written = TestSandbox::ReadFile(sandbox.RegistryFile());
  EXPECT_NE(written.find("\"Say \\\"hi\\\" = \\\\ok\"=\"C:\\\\Program Files\\\\\\\"quoted\\\"\\\\=x; Grüße, 東京\"\n"),
            std::string::npos)
      << written;
  EXPECT_NE(written.find("\"Lines\"=hex(1):"), std::string::npos) << written;

  // A copy under another name has to be parsed afresh.
  std::filesystem::copy_file(sandbox.RegistryFile(), sandbox.Path("copy.reg"));
  UseFile(sandbox, "copy.reg");
  const uint64_t parses = Store::Instance().ParseCount();
  ScopedKey key;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "software\\ünïcode [KEY]", key), ERROR_SUCCESS);
  EXPECT_EQ(Store::Instance().ParseCount(), parses + 1);
  EXPECT_EQ(GetString(key, name.c_str()), text);
  EXPECT_EQ(GetString(key, "Lines"), lines);
  const auto path = Query(key, "Path");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(std::string(path->bytes.begin(), path->bytes.end()), std::string("%TEMP%\\x", 9));
  const auto multiBack = Query(key, "Multi");
  ASSERT_TRUE(multiBack);
  EXPECT_EQ(multiBack->type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(multiBack->bytes, std::vector<BYTE>(multi, multi + sizeof multi));
  EXPECT_EQ(Query(key, "Odd")->bytes.size(), 2u);
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{name, "Lines", "Path", "Multi", "Odd"}));
}

TEST(RegistryFile, HandWrittenFilesAreRead) {
  TestSandbox sandbox;
  TestSandbox::WriteFile(sandbox.RegistryFile(),
                         "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                         "; written by hand\r\n"
                         "[HKEY_CLASSES_ROOT\\CLSID\\{1}]\r\n"
                         "@=\"Hub\"\r\n"
                         "\"Blob\"=hex:01,02,\\\r\n"
                         "  03,04\r\n"
                         "\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova]\r\n"
                         "\"Port\"=dword:0000FFFF\r\n"
                         "[hkey_local_machine\\software\\KESTROVA]\r\n"
                         "\"port\"=dword:1f\r\n");
  ScopedKey clsid, kestrova;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{1}", clsid), ERROR_SUCCESS);
  EXPECT_EQ(GetString(clsid, nullptr), "Hub");
  EXPECT_EQ(Query(clsid, "Blob")->bytes, (std::vector<BYTE>{1, 2, 3, 4}));
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", kestrova), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(kestrova, "Port"), 0x1fu);
  EXPECT_EQ(ValueNames(kestrova), std::vector<std::string>{"Port"});
}

TEST(RegistryFile, CorruptFileIsRefusedWithItsLineAndLeftAlone) {
  TestSandbox sandbox;
  const std::string section = "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n";
  const struct {
    std::string text;
    int line;
  } cases[] = {
      {"REGEDIT4\n\n" + section, 1},
      {kHeader + section + "\"a\"=\"unterminated\n", 4},
      {kHeader + "\"a\"=\"before any key\"\n", 3},
      {kHeader + section + "\"n\"=dword:xyz\n", 4},
      {kHeader + "[HKEY_NOWHERE\\X]\n", 3},
      {kHeader + section + "\n\"n\"=\"bad \\q escape\"\n", 5},
      {kHeader + section + "\"b\"=hex:01,\\\n  0g\n", 4},
      {kHeader + section + "\"a\"=\"b\" trailing\n", 4},
      {kHeader + section + "junk\n", 4},
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::string name = "corrupt" + std::to_string(index++) + ".reg";
    TestSandbox::WriteFile(sandbox.Path(name), c.text);
    UseFile(sandbox, name);
    ScopedKey key;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", key), ERROR_REGISTRY_CORRUPT) << c.text;
    const std::string error = LastRegistryErrorText();
    EXPECT_NE(error.find(sandbox.Path(name)), std::string::npos) << error;
    EXPECT_NE(error.find("line " + std::to_string(c.line) + ":"), std::string::npos) << error;
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", key), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(SetString(HKEY_CURRENT_USER, "v", "x"), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, nullptr), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(TestSandbox::ReadFile(sandbox.Path(name)), c.text);
  }
}

TEST(RegistryFile, CorruptFileIsReportedOnceOnStderrAndUsableOnceRepaired) {
  TestSandbox sandbox;
  TestSandbox::WriteFile(sandbox.RegistryFile(), kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n");
  testing::internal::CaptureStderr();
  ScopedKey key;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", key), ERROR_REGISTRY_CORRUPT);
  const std::string printed = testing::internal::GetCapturedStderr();
  const std::string expected = std::string(LastRegistryErrorText()) + "\n";
  EXPECT_NE(printed.find(expected), std::string::npos) << printed;
  EXPECT_EQ(printed.find(expected), printed.rfind(expected)) << printed;

  TestSandbox::WriteFile(sandbox.RegistryFile(), kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"Fixed\"=\"yes\"\n");
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", key), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, "Fixed"), "yes");
}

TEST(RegistryFile, AbsentFileIsAnEmptyRegistryAndWritingCreatesIt) {
  TestSandbox sandbox;
  UseFile(sandbox, "not/yet/there/registry.reg");
  ScopedKey key;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", key), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
  EXPECT_FALSE(std::filesystem::exists(sandbox.Path("not")));

  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE", key), ERROR_SUCCESS);
  EXPECT_EQ(TestSandbox::ReadFile(sandbox.Path("not/yet/there/registry.reg")),
            kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n");

  // Removing the file empties the registry again; handles to its keys see them gone.
  std::filesystem::remove(sandbox.Path("not/yet/there/registry.reg"));
  EXPECT_EQ(SetString(key, "v", "x"), ERROR_KEY_DELETED);
}

TEST(RegistryFile, UnchangedFileIsReadFromMemoryAndChangesArePickedUp) {
  TestSandbox sandbox;
  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", key), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "RefreshTime", "60"), ERROR_SUCCESS);

  const uint64_t parses = Store::Instance().ParseCount();
  char buffer[16];
  for (int i = 0; i < 100000; ++i) {
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "RefreshTime", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(Store::Instance().ParseCount(), parses);

  // Another writer replaces the file.
  const std::string replacement = sandbox.Path("replacement.reg");
  TestSandbox::WriteFile(replacement, kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova]\n\"RefreshTime\"=\"90\"\n\n");
  ASSERT_EQ(std::rename(replacement.c_str(), sandbox.RegistryFile().c_str()), 0);
  EXPECT_EQ(GetString(key, "RefreshTime"), "90");
  EXPECT_EQ(Store::Instance().ParseCount(), parses + 1);

  // An edit in place.
  TestSandbox::WriteFile(sandbox.RegistryFile(),
                         kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova]\n\"RefreshTime\"=\"120\"\n");
  EXPECT_EQ(GetString(key, "RefreshTime"), "120");
}
