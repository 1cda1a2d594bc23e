// Keys: names, enumeration, deletion, handles and the HKEY_CLASSES_ROOT view.
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>
#include <winreg.h>

#include "registry_test_helpers.h"

using auralink::testing::TestSandbox;
using namespace registry_test;

namespace {
// Wide text in the ANSI code page, as the A functions take it (UTF-8 on Linux, mostly 1252 on Windows).
std::string Ansi(const wchar_t* text) {
  char ansi[64] = {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr, nullptr);
  return size > 0 ? std::string(ansi) : std::string();
}
}  // namespace

TEST(RegistryKeys, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  TestSandbox sandbox;
  ScopedKey auralink, other, again, umlaut, umlautAgain;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink", auralink), ERROR_SUCCESS);
  DWORD disposition = 0;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "software\\KESTROVA\\auralink", again, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\KESTROVA\\Other", other, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));

  ScopedKey software;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Software", software), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(software), std::vector<std::string>{"Kestrova"});

  ASSERT_EQ(SetDword(auralink, "TraceLevel", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(again, "TRACELEVEL", 2), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(auralink), std::vector<std::string>{"TraceLevel"});
  EXPECT_EQ(GetDword(auralink, "tracelevel"), 2u);

  // Non-ASCII letters fold too.
  ASSERT_EQ(Create(auralink, Ansi(L"\u00C4rger").c_str(), umlaut), ERROR_SUCCESS);
  ASSERT_EQ(Open(auralink, Ansi(L"\u00E4RGER").c_str(), umlautAgain), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(auralink), std::vector<std::string>{Ansi(L"\u00C4rger")});
}

TEST(RegistryKeys, SubkeysEnumerateSortedAndValuesInCreationOrder) {
  TestSandbox sandbox;
  ScopedKey root;
  ASSERT_EQ(Create(HKEY_CURRENT_USER, "Order", root), ERROR_SUCCESS);
  for (const char* name : {"beta", "_under", "Alpha", "gamma"}) {
    ScopedKey child;
    ASSERT_EQ(Create(root, name, child), ERROR_SUCCESS);
  }
  // Compared in upper case, so "_" sorts after the letters.
  EXPECT_EQ(SubkeyNames(root), (std::vector<std::string>{"Alpha", "beta", "gamma", "_under"}));

  for (const char* name : {"z", "a", "m"}) ASSERT_EQ(SetString(root, name, name), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(root), (std::vector<std::string>{"z", "a", "m"}));
  ASSERT_EQ(RegDeleteValueA(root, "A"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(root, "a", "again"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(root, "Z", "changed"), ERROR_SUCCESS);  // keeps its place
  EXPECT_EQ(ValueNames(root), (std::vector<std::string>{"z", "m", "a"}));

  char name[4];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);  // "Alpha"
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(root, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);  // "beta" + zero
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(root, 4, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  DWORD subkeys = 0, values = 0, longestSubkey = 0, longestValueName = 0, largestData = 0;
  ASSERT_EQ(RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                             &longestValueName, &largestData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 4u);
  EXPECT_EQ(values, 3u);
  EXPECT_EQ(longestSubkey, 6u);  // "_under"
  EXPECT_EQ(longestValueName, 1u);
#ifdef _WIN32
  EXPECT_EQ(largestData, 16u);  // "changed" and its zero, as stored: UTF-16
#else
  EXPECT_EQ(largestData, 8u);  // "changed" and its zero, as stored: UTF-8
#endif
}

TEST(RegistryKeys, DeleteKeyRefusesChildrenWhileDeleteTreeTakesAll) {
  TestSandbox sandbox;
  ScopedKey leaf, agent;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\DBListening", leaf), ERROR_SUCCESS);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink\\QuillonLst", agent), ERROR_SUCCESS);
  ASSERT_EQ(SetString(agent, "LogFileName", "x.log"), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink\\QuillonLst"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetString(agent, "LogFileName"), "x.log");
  EXPECT_EQ(RegDeleteKeyA(agent, "Missing"), ERROR_FILE_NOT_FOUND);

  // A null subkey empties the key but keeps it.
  ASSERT_EQ(RegDeleteTreeA(agent, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(SubkeyNames(agent).empty());
  EXPECT_TRUE(ValueNames(agent).empty());
  EXPECT_EQ(RegDeleteKeyA(agent, ""), ERROR_SUCCESS);  // now childless: deletes itself

  ScopedKey deep;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink\\A\\B\\C", deep), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "software\\kestrova"), ERROR_SUCCESS);
  ScopedKey gone;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
}

TEST(RegistryKeys, HandlesOfDeletedKeysAndInvalidHandlesAreReported) {
  TestSandbox sandbox;
  ScopedKey key, child;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", key), ERROR_SUCCESS);
  ASSERT_EQ(Create(key, "Child", child), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed"), ERROR_SUCCESS);

  EXPECT_EQ(SetString(key, "v", "x"), ERROR_KEY_DELETED);
  EXPECT_EQ(SetString(child, "v", "x"), ERROR_KEY_DELETED);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  ScopedKey sub;
  EXPECT_EQ(Create(key, "New", sub), ERROR_KEY_DELETED);
  ScopedKey missing;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", missing), ERROR_FILE_NOT_FOUND);

  HKEY made = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Short", &made), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(made), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(made), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetString(reinterpret_cast<HKEY>(0x1234), "v", "x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // predefined keys stay usable
  ScopedKey stillThere;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Short", stillThere), ERROR_SUCCESS);
}

TEST(RegistryKeys, AccessRightsOfAHandleAreEnforced) {
  TestSandbox sandbox;
  ScopedKey created, readOnly, writeOnly;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Rights", created), ERROR_SUCCESS);
  ASSERT_EQ(SetString(created, "v", "x"), ERROR_SUCCESS);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Rights", readOnly, KEY_READ), ERROR_SUCCESS);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Rights", writeOnly, KEY_WRITE), ERROR_SUCCESS);

  EXPECT_EQ(GetString(readOnly, "v"), "x");
  EXPECT_EQ(SetString(readOnly, "v", "y"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(readOnly, "v"), ERROR_ACCESS_DENIED);
  ScopedKey sub;
  EXPECT_EQ(Create(readOnly, "Sub", sub), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetString(writeOnly, "v", "y"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(writeOnly, "v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
}

TEST(RegistryKeys, ClassesRootIsAViewOfSoftwareClasses) {
  TestSandbox sandbox;
  // Nothing there yet: the predefined key still answers, as an empty key.
  DWORD subkeys = 99;
  ASSERT_EQ(RegQueryInfoKeyA(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 0u);
  ScopedKey absent;
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, "CLSID", absent), ERROR_FILE_NOT_FOUND);

  ScopedKey server;
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, "CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\InprocServer32", server),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(server, nullptr, "/opt/auralink/lib/libTouchpoint.so"), ERROR_SUCCESS);
  ScopedKey viaMachine;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}\\InprocServer32",
                 viaMachine),
            ERROR_SUCCESS);
  EXPECT_EQ(GetString(viaMachine, ""), "/opt/auralink/lib/libTouchpoint.so");

  ScopedKey progId, progIdView;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Touchpoint.Hub", progId), ERROR_SUCCESS);
  ASSERT_EQ(Open(HKEY_CLASSES_ROOT, "touchpoint.hub", progIdView), ERROR_SUCCESS);
  ScopedKey software;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", software), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(software), std::vector<std::string>{"Classes"});
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT), (std::vector<std::string>{"CLSID", "Touchpoint.Hub"}));
}

namespace {
// "K\K\...\K", `levels` names deep.
std::string DeepPath(size_t levels) {
  std::string path = "K";
  for (size_t i = 1; i < levels; ++i) path += "\\K";
  return path;
}
}  // namespace

TEST(RegistryKeys, KeysBeyondWindowsLimitsAreRefusedAndWriteNothing) {
  TestSandbox sandbox;
  ScopedKey deepest;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, DeepPath(512).c_str(), deepest), ERROR_SUCCESS);
  const std::string before = TestSandbox::ReadFile(sandbox.RegistryFile());

  // One level more, from the top, from the deepest key, or through the classes view
  // (which lies two levels down).
  ScopedKey refused;
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, DeepPath(513).c_str(), refused), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Create(deepest, "K", refused), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Create(HKEY_CLASSES_ROOT, DeepPath(511).c_str(), refused), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Create(HKEY_CURRENT_USER, DeepPath(10000).c_str(), refused), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(refused.get(), nullptr);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, DeepPath(513).c_str(), refused), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, DeepPath(513).c_str()), ERROR_FILE_NOT_FOUND);

  // Names: 255 bytes for a key, 16383 for a value.
  ScopedKey longest;
  EXPECT_EQ(Create(HKEY_CURRENT_USER, std::string(255, 'k').c_str(), longest), ERROR_SUCCESS);
  EXPECT_EQ(Create(HKEY_CURRENT_USER, ("Ok\\" + std::string(256, 'k')).c_str(), refused), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetString(longest, std::string(16383, 'v').c_str(), "x"), ERROR_SUCCESS);
  EXPECT_EQ(SetString(longest, std::string(16384, 'v').c_str(), "x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ValueNames(longest).size(), 1u);
  ScopedKey ok;
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "Ok", ok), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(TestSandbox::ReadFile(sandbox.RegistryFile()), before);
}
