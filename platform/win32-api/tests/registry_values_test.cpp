// Values: sizes, types, default values and the buffer contract of the query functions.
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <windows.h>
#include <winreg.h>

#include <algorithm>
#include <cstring>

#include "registry_test_helpers.h"

using auralink::testing::TestSandbox;
using namespace registry_test;

TEST(RegistryValues, StringSizesCountTheTerminatingZero) {
  TestSandbox sandbox;
  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Values", key), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "Mode", "warm"), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "Mode", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 5u);

  char buffer[8] = "xxxxxxx";
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "Mode", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  size = 5;
  ASSERT_EQ(RegQueryValueExA(key, "Mode", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "warm");

  // Written without its zero: read back terminated, and the size says so.
  ASSERT_EQ(RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("cold"), 4), ERROR_SUCCESS);
  std::memset(buffer, 'x', sizeof buffer);
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "Bare", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(buffer, "cold");

  // Written empty: stays empty, without a zero.
  ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  const auto empty = Query(key, "Empty");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->type, static_cast<DWORD>(REG_SZ));
  EXPECT_TRUE(empty->bytes.empty());
}

TEST(RegistryValues, DwordsAndBinaryKeepTypeAndBytes) {
  TestSandbox sandbox;
  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Values", key), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "LastMsgNr", 60), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "TraceLevel", 0xFFFFFFFFu), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "LastMsgNr", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(GetDword(key, "LastMsgNr"), 60u);
  EXPECT_EQ(static_cast<LONG>(*GetDword(key, "TraceLevel")), -1);

  const BYTE blob[] = {0x00, 0xff, 0x10};
  ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  const auto data = Query(key, "Blob");
  ASSERT_TRUE(data);
  EXPECT_EQ(data->type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(data->bytes, std::vector<BYTE>(blob, blob + sizeof blob));

  // Changing a value's type replaces it in place.
  ASSERT_EQ(SetString(key, "LastMsgNr", "61"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, "LastMsgNr"), "61");
  auto names = ValueNames(key);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Blob", "LastMsgNr", "TraceLevel"}));
}

TEST(RegistryValues, DefaultValueHasTheEmptyName) {
  TestSandbox sandbox;
  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Quillon.Discovery", key), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(SetString(key, nullptr, "Quillon Discovery"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, ""), "Quillon Discovery");
  ASSERT_EQ(SetString(key, "", "Renamed"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, nullptr), "Renamed");
  EXPECT_EQ(ValueNames(key), std::vector<std::string>{""});

  EXPECT_EQ(RegDeleteValueA(key, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(ValueNames(key).empty());
}

TEST(RegistryValues, EnumerationAndQueryFollowTheBufferContract) {
  TestSandbox sandbox;
  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Values", key), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "pkField1", "object_uuid"), ERROR_SUCCESS);

  char name[16];
  BYTE data[32];
  DWORD nameSize = sizeof name, dataSize = 4, type = 0;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &dataSize), ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 12u);
  nameSize = 8;  // "pkField1" needs 9 with its zero
  dataSize = sizeof data;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &dataSize), ERROR_MORE_DATA);
  nameSize = sizeof name;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &dataSize), ERROR_SUCCESS);
  EXPECT_STREQ(name, "pkField1");
  EXPECT_EQ(nameSize, 8u);
  EXPECT_STREQ(reinterpret_cast<char*>(data), "object_uuid");
  nameSize = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key, "pkField1", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
#ifdef _WIN32
  EXPECT_EQ(SetString(key, "two\nlines", "x"), ERROR_SUCCESS);
#else
  // Windows takes any character but zero; the platform's line-based file takes no line breaks.
  EXPECT_EQ(SetString(key, "two\nlines", "x"), ERROR_INVALID_PARAMETER);
#endif
  EXPECT_EQ(RegDeleteValueA(key, "Absent"), ERROR_FILE_NOT_FOUND);
}
