// auralink-reg run as an administrator runs it, against the sandbox's registry file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_sandbox.h"

namespace {

using auralink::testing::TestSandbox;

constexpr const char* kProduct = R"(HKLM\SOFTWARE\Kestrova\Auralink)";

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ShellQuoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class RegToolTest : public ::testing::Test {
 protected:
  // Runs auralink-reg with `words`, `input` on its standard input and `environment`
  // ("NAME=value ...") in front; the sandbox's registry is inherited.
  RunResult Run(const std::vector<std::string>& words, const std::string& input = "",
                const std::string& environment = "") {
    TestSandbox::WriteFile(sandbox_.Path("stdin"), input);
    std::string command = environment + " " + ShellQuoted(AURALINK_REG);
    for (const std::string& word : words) command += " " + ShellQuoted(word);
    command += " <" + sandbox_.Path("stdin") + " 2>" + sandbox_.Path("stderr");
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) result.out += buffer;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = TestSandbox::ReadFile(sandbox_.Path("stderr"));
    return result;
  }

  // Expects status 1 and one "ERROR: ..." line on standard error.
  void ExpectRefused(const std::vector<std::string>& words, const std::string& environment = "") {
    RunResult result = Run(words, "", environment);
    EXPECT_EQ(result.status, 1) << words[0] << " " << (words.size() > 1 ? words[1] : "") << "\n" << result.out;
    // The registry's own report of a broken file may come first.
    EXPECT_TRUE(result.err.rfind("ERROR: ", 0) == 0 || result.err.find("\nERROR: ") != std::string::npos)
        << result.err;
  }

  std::string Registry() const { return TestSandbox::ReadFile(sandbox_.RegistryFile()); }

  TestSandbox sandbox_;
};

TEST_F(RegToolTest, EveryTypeRoundTripsThroughAddQueryExportAndImport) {
  const std::string sub = std::string(kProduct) + R"(\QuillonLst)";
  const std::vector<std::vector<std::string>> adds = {
      {"add", kProduct, "/v", "TraceLevel", "/t", "REG_DWORD", "/d", "-1"},
      {"add", kProduct, "/v", "MaxFileLogSize", "/t", "reg_dword", "/d", "0x100000", "/f"},
      {"add", sub, "/v", "LogFileName", "/d", R"(C:\Auralink\"quoted" name.log)"},
      {"add", sub, "/v", "Search", "/t", "REG_EXPAND_SZ", "/d", "%APATH%/adapter.jar"},
      {"add", sub, "/v", "Fields", "/t", "REG_MULTI_SZ", "/d", R"(uuid\0date modify)"},
      {"add", sub, "-v", "Tables", "-t", "REG_MULTI_SZ", "-s", ",", "-d", "one,two"},
      {"ADD", sub, "/V", "Blob", "/T", "REG_BINARY", "/D", "00ff7F"},
      {"add", sub, "/ve", "/d", "default text"},
      {"add", sub + R"(\Empty)"}};
  for (const auto& words : adds) {
    RunResult added = Run(words);
    EXPECT_EQ(added.status, 0) << words[3] << "\n" << added.err;
    EXPECT_EQ(added.out, "The operation completed successfully.\n");
  }

  // What is stored is what a program reading the registry expects.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, R"(SOFTWARE\Kestrova\Auralink\QuillonLst)", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  BYTE data[64];
  DWORD size = sizeof data;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "Fields", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("uuid\0date modify\0\0", 18));
  size = sizeof data;
  ASSERT_EQ(RegQueryValueExA(key, "Blob", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("\x00\xff\x7f", 3));
  RegCloseKey(key);

  RunResult one = Run({"query", "hkey_local_machine\\SOFTWARE\\Kestrova\\Auralink", "/v", "traceLEVEL"});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink\n    TraceLevel    REG_DWORD    0xffffffff\n\n");

  const std::string all =
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink\n"
      "    TraceLevel    REG_DWORD    0xffffffff\n"
      "    MaxFileLogSize    REG_DWORD    0x100000\n"
      "\n"
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink\\QuillonLst\n"
      "    LogFileName    REG_SZ    C:\\Auralink\\\"quoted\" name.log\n"
      "    Search    REG_EXPAND_SZ    %APATH%/adapter.jar\n"
      "    Fields    REG_MULTI_SZ    uuid\\0date modify\n"
      "    Tables    REG_MULTI_SZ    one\\0two\n"
      "    Blob    REG_BINARY    00FF7F\n"
      "    (Default)    REG_SZ    default text\n"
      "\n"
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\Empty\n"
      "\n";
  RunResult tree = Run({"query", kProduct, "/s"});
  EXPECT_EQ(tree.status, 0) << tree.err;
  EXPECT_EQ(tree.out, all);
  // Without /s: the key's values, then the names of its subkeys.
  EXPECT_EQ(Run({"query", kProduct}).out, all.substr(0, all.find("    LogFileName")));

  // Export, delete, import: the same tree again, and the same export text.
  const std::string exported = sandbox_.Path("auralink.reg");
  ASSERT_EQ(Run({"export", kProduct, exported}).status, 0);
  const std::string text = TestSandbox::ReadFile(exported);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\Empty]"), std::string::npos);
  ASSERT_EQ(Run({"delete", kProduct, "/f"}).status, 0);
  ExpectRefused({"query", kProduct});
  RunResult imported = Run({"import", exported});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(Run({"query", kProduct, "/s"}).out, all);
  ASSERT_EQ(Run({"export", kProduct, exported, "/y"}).status, 0);
  EXPECT_EQ(TestSandbox::ReadFile(exported), text);

  // /v with /s finds the value in every key below; deleting one value leaves the others.
  RunResult found = Run({"query", "HKLM\\SOFTWARE", "/s", "/v", "blob"});
  EXPECT_EQ(found.status, 0);
  EXPECT_NE(found.out.find("End of search: 1 match(es) found."), std::string::npos) << found.out;
  EXPECT_EQ(Run({"delete", sub, "/v", "Blob", "/f"}).status, 0);
  ExpectRefused({"query", sub, "/v", "Blob"});
  EXPECT_EQ(Run({"query", sub, "/v", "Search"}).status, 0);
}

TEST_F(RegToolTest, RefusesWithAnErrorAndLeavesTheFileAsItWas) {
  ASSERT_EQ(Run({"add", kProduct, "/v", "TraceLevel", "/t", "REG_DWORD", "/d", "3"}).status, 0);
  const std::string before = Registry();

  ExpectRefused({"query", std::string(kProduct) + "\\Missing"});
  ExpectRefused({"query", kProduct, "/v", "Missing"});
  ExpectRefused({"query", kProduct, "/ve"});
  ExpectRefused({"query", "HKU\\.DEFAULT"});
  ExpectRefused({"delete", kProduct, "/v", "Missing", "/f"});
  ExpectRefused({"delete", "HKLM", "/f"});
  ExpectRefused({"add", kProduct, "/v", "X", "/t", "REG_QWORD", "/d", "1"});
  ExpectRefused({"add", kProduct, "/v", "X", "/t", "REG_DWORD", "/d", "12x"});
  ExpectRefused({"add", kProduct, "/v", "X", "/t", "REG_DWORD", "/d", "4294967296"});
  ExpectRefused({"add", kProduct, "/v", "X", "/t", "REG_BINARY", "/d", "abc"});
  ExpectRefused({"add", kProduct, "/v", "X", "/t", "REG_BINARY", "/d", "0g"});
  ExpectRefused({"add", kProduct, "/v", "X", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"});
  ExpectRefused({"add", kProduct, "/t", "REG_SZ", "/d", "no value name"});
  ExpectRefused({"add", kProduct, "/v", "X", "/q"});
  ExpectRefused({"add", kProduct, "/v"});
  ExpectRefused({"rename", kProduct});
  ExpectRefused({"query"});
  ExpectRefused({"import", sandbox_.Path("absent.reg")});

  // A file that is not in the format: nothing of it is imported.
  const std::string broken = sandbox_.Path("broken.reg");
  TestSandbox::WriteFile(broken,
                         "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink]\n"
                         "\"TraceLevel\"=dword:00000001\n\"MaxFileLogSize\"=dword:xyz\n");
  RunResult refused = Run({"import", broken});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(broken + ", line 5: "), std::string::npos) << refused.err;
  EXPECT_EQ(Registry(), before);

  // A registry file that cannot be written, and one that cannot be read.
  const std::string notAFolder = "AURALINK_REGISTRY=" + sandbox_.RegistryFile() + "/registry.reg";
  ExpectRefused({"add", kProduct, "/v", "TraceLevel", "/t", "REG_DWORD", "/d", "1", "/f"}, notAFolder);
  TestSandbox::WriteFile(sandbox_.RegistryFile(), "not a registry\n");
  ExpectRefused({"query", kProduct});
  ExpectRefused({"add", kProduct, "/v", "TraceLevel", "/t", "REG_DWORD", "/d", "1", "/f"});
  EXPECT_EQ(Registry(), "not a registry\n");
}

TEST_F(RegToolTest, AsksBeforeReplacingOrDeletingUnlessForced) {
  ASSERT_EQ(Run({"add", kProduct, "/v", "TraceLevel", "/t", "REG_DWORD", "/d", "3"}).status, 0);
  const std::vector<std::string> replace = {"add", kProduct, "/v", "TraceLevel", "/t", "REG_DWORD", "/d", "0"};

  RunResult declined = Run(replace, "n\n");
  EXPECT_EQ(declined.status, 1);
  EXPECT_NE(declined.out.find("Value TraceLevel exists, overwrite (Yes/No)? "), std::string::npos) << declined.out;
  EXPECT_EQ(Run(replace, "").status, 1);  // no answer at all
  EXPECT_NE(Run({"query", kProduct, "/v", "TraceLevel"}).out.find("REG_DWORD    0x3\n"), std::string::npos);
  EXPECT_EQ(Run(replace, "Yes\n").status, 0);
  EXPECT_NE(Run({"query", kProduct, "/v", "TraceLevel"}).out.find("REG_DWORD    0x0\n"), std::string::npos);

  EXPECT_EQ(Run({"delete", kProduct}, "no\n").status, 1);
  EXPECT_EQ(Run({"query", kProduct}).status, 0);
  const std::string exported = sandbox_.Path("existing.reg");
  TestSandbox::WriteFile(exported, "keep me\n");
  EXPECT_EQ(Run({"export", kProduct, exported}, "n\n").status, 1);
  EXPECT_EQ(TestSandbox::ReadFile(exported), "keep me\n");
  EXPECT_EQ(Run({"delete", kProduct, "/va"}, "y\n").status, 0);
  ExpectRefused({"query", kProduct, "/v", "TraceLevel"});
}

}  // namespace
