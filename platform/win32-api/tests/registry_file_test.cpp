// The registry file: its text, escaping, hand-written files, corrupt files, and reading
// from memory until the file changes.
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <winreg.h>

#include <pthread.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "../src/registry/registry_store.h"
#include "../src/registry/registry_text.h"
#include "registry_test_helpers.h"
#include <auralink/platform/error_text.h>

using auralink::platform::LastRegistryErrorText;
using auralink::platform::registry::Store;
using auralink::testing::TestSandbox;
using namespace registry_test;

namespace {
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// Runs `work` on a thread with a stack of `bytes`; false when the thread cannot start.
bool RunOnStack(size_t bytes, std::function<void()> work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, bytes);
  pthread_t thread;
  const auto run = [](void* job) -> void* {
    (*static_cast<std::function<void()>*>(job))();
    return nullptr;
  };
  const bool started = pthread_create(&thread, &attributes, run, &work) == 0;
  pthread_attr_destroy(&attributes);
  if (started) pthread_join(thread, nullptr);
  return started;
}

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
  const auto deepKey = [](size_t levels, const char* root = "HKEY_CURRENT_USER") {
    std::string line = std::string("[") + root;
    for (size_t i = 0; i < levels; ++i) line += "\\K";
    return line + "]\n";
  };
  const std::string nul(1, '\0');
  const struct {
    std::string text;
    int line;
    const char* reason = nullptr;
  } cases[] = {
      {kHeader + deepKey(512) + deepKey(513), 4, "deeper than 512 levels"},
      {kHeader + deepKey(100000), 3, "deeper than 512 levels"},
      {kHeader + deepKey(511, "HKEY_CLASSES_ROOT"), 3, "deeper than 512 levels"},
      {kHeader + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 3, "longer than 255 bytes"},
      {kHeader + section + "\"" + std::string(16384, 'v') + "\"=\"x\"\n", 4, "longer than 16383 bytes"},
      {kHeader + "[HKEY_LOCAL_MACHINE\\SOFT" + nul + "WARE]\n", 3, "zero byte"},
      {kHeader + section + "\"Na" + nul + "me\"=\"x\"\n", 4, "zero byte"},
      {kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\Empty]\n", 3, "empty"},
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
    if (c.reason) {
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
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

TEST(RegistryFile, WritesGoThroughASymbolicLinkToItsTarget) {
  TestSandbox sandbox;
  std::filesystem::create_directory(sandbox.Path("data"));
  // A relative link, as an installation would make it, and a link to that link.
  std::filesystem::create_symlink("data/real.reg", sandbox.Path("link.reg"));
  std::filesystem::create_symlink(sandbox.Path("link.reg"), sandbox.Path("second.reg"));
  UseFile(sandbox, "second.reg");

  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", key), ERROR_SUCCESS);  // creates the target
  ASSERT_EQ(SetString(key, "Through", "link"), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_symlink(sandbox.Path("link.reg")));
  EXPECT_TRUE(std::filesystem::is_symlink(sandbox.Path("second.reg")));
  EXPECT_NE(TestSandbox::ReadFile(sandbox.Path("data/real.reg")).find("\"Through\"=\"link\""), std::string::npos);
  // Writers that name the file differently share one lock.
  EXPECT_TRUE(std::filesystem::exists(sandbox.Path("data/real.reg.lock")));
  EXPECT_FALSE(std::filesystem::exists(sandbox.Path("second.reg.lock")));

  // A writer that names the target directly is seen through the link, and the reverse.
  UseFile(sandbox, "data/real.reg");
  ASSERT_EQ(SetString(key, "Direct", "target"), ERROR_SUCCESS);
  UseFile(sandbox, "second.reg");
  EXPECT_EQ(GetString(key, "Direct"), "target");
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Through", "Direct"}));

  std::filesystem::create_symlink("loop.reg", sandbox.Path("loop.reg"));
  UseFile(sandbox, "loop.reg");
  EXPECT_EQ(SetString(HKEY_CURRENT_USER, "v", "x"), ERROR_CANTWRITE);
  EXPECT_NE(std::string(LastRegistryErrorText()).find("cannot follow the link"), std::string::npos);
}

TEST(RegistryFile, KeyWithHundredsOfThousandsOfValuesLoadsInOrder) {
  // Loading used to look every value up by a linear search: this key then took minutes,
  // beyond the test's time limit.
  constexpr int kValues = 300000;
  TestSandbox sandbox;
  std::string text = kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Many]\n";
  for (int i = 0; i < kValues; ++i) text += "\"v" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
  text += "\"V7\"=\"last spelling wins the data, first keeps the name\"\n";
  TestSandbox::WriteFile(sandbox.RegistryFile(), text);

  ScopedKey key;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many", key), ERROR_SUCCESS);
  DWORD count = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, static_cast<DWORD>(kValues));
  EXPECT_EQ(GetDword(key, "v299999"), 9u);
  EXPECT_EQ(GetString(key, "v7"), "last spelling wins the data, first keeps the name");

  // Removing a value keeps the order of the others and finds each by its name.
  ASSERT_EQ(RegDeleteValueA(key, "v1"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "V1", 42), ERROR_SUCCESS);
  const std::vector<std::string> names = ValueNames(key);
  ASSERT_EQ(names.size(), static_cast<size_t>(kValues));
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 3), (std::vector<std::string>{"v0", "v2", "v3"}));
  EXPECT_EQ(names.back(), "V1");
  EXPECT_EQ(GetDword(key, "v2"), 2u);
  EXPECT_EQ(GetDword(key, "v299999"), 9u);
  EXPECT_EQ(GetDword(key, "v1"), 42u);
}

TEST(RegistryFile, DeepTreesAreWrittenAndFreedWithoutRecursion) {
  // Files and calls cannot make keys this deep any more, but the tree's writer and its
  // destruction must not depend on depth: on a 256 KB stack, walking 5000 levels by
  // recursion overflows.
  using namespace auralink::platform::registry;
  constexpr size_t kLevels = 5000;
  size_t sections = 0;
  std::string lastLine;
  ASSERT_TRUE(RunOnStack(256 * 1024, [&] {
    auto tree = std::make_unique<Tree>();
    KeyPath path{Hive::CurrentUser, std::vector<Name>(kLevels, MakeName("K"))};
    bool created = false;
    CreateKey(*tree, path, created).SetValue(MakeName("Bottom"), REG_SZ, {'x', 0});
    const std::string text = FormatRegistryText(*tree);
    for (size_t at = text.find("\n[HKEY_CURRENT_USER\\K"); at != std::string::npos; at = text.find("\n[", at + 1))
      ++sections;
    lastLine = text.substr(text.rfind('\n', text.size() - 3) + 1);
    tree.reset();
  }));
  EXPECT_EQ(sections, kLevels);
  EXPECT_EQ(lastLine, "\"Bottom\"=\"x\"\n\n");
}
