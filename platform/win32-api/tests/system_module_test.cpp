#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <auralink/platform/error_text.h>
#include <auralink/platform/module_path.h>

using auralink::platform::LastLoaderErrorText;
using auralink::platform::ModulePathOfAddress;

namespace {

std::string ProgramPath() {
  char buffer[MAX_PATH * 4];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  return std::string(buffer, length);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void FunctionOfThisProgram() {}

constexpr const char* kMathLibrary = "libm.so.6";

}  // namespace

TEST(GetModuleFileName, NamesTheRunningProgram) {
  std::string path = ProgramPath();
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(EndsWith(path, "/platform_system_tests")) << path;
  EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(ModulePathOfAddress(reinterpret_cast<const void*>(&FunctionOfThisProgram)), path);

  HMODULE self = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(&FunctionOfThisProgram), &self));
  char buffer[MAX_PATH * 4];
  ASSERT_GT(GetModuleFileNameA(self, buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(std::string(buffer), path);
  EXPECT_EQ(self, GetModuleHandleA(nullptr));
}

TEST(GetModuleFileName, TruncatesLikeWindowsWhenTheBufferIsShort) {
  std::string path = ProgramPath();
  char buffer[6] = "xxxxx";
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof(buffer)), 6u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(buffer), path.substr(0, 5));

  std::string exact(path.size() + 1, 'x');
  EXPECT_EQ(GetModuleFileNameA(nullptr, exact.data(), static_cast<DWORD>(exact.size())), path.size());
  EXPECT_EQ(GetModuleFileNameA(nullptr, exact.data(), static_cast<DWORD>(path.size())), path.size())
      << "no room for the terminator: truncated";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(ModuleLoading, ASharedLibrarysFunctionLeadsBackToItsFileAndHandle) {
  HMODULE library = LoadLibraryA(kMathLibrary);
  ASSERT_NE(library, nullptr) << LastLoaderErrorText();
  FARPROC cosine = GetProcAddress(library, "cos");
  ASSERT_NE(cosine, nullptr);
  auto cosineOf = reinterpret_cast<double (*)(double)>(cosine);
  EXPECT_DOUBLE_EQ(cosineOf(0.0), 1.0);

  std::string path = ModulePathOfAddress(reinterpret_cast<const void*>(cosine));
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(EndsWith(path, std::string("/") + kMathLibrary)) << path;
  char buffer[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(library, buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(std::string(buffer), path);

  HMODULE found = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(cosine), &found));
  EXPECT_EQ(found, library);
  EXPECT_EQ(GetModuleHandleA(kMathLibrary), library);
  EXPECT_TRUE(FreeLibrary(library));
}

TEST(ModuleLoading, FailuresLeaveAnErrorAndTheLoadersText) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("/nonexistent/libauralink-missing.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_NE(LastLoaderErrorText().find("libauralink-missing.so"), std::string::npos) << LastLoaderErrorText();
  EXPECT_EQ(LoadLibraryA(""), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  HMODULE library = LoadLibraryA(kMathLibrary);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(GetProcAddress(library, "auralink_no_such_function"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_NE(LastLoaderErrorText().find("auralink_no_such_function"), std::string::npos);
  EXPECT_EQ(GetProcAddress(library, reinterpret_cast<LPCSTR>(7)), nullptr) << "ordinals";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  EXPECT_TRUE(FreeLibrary(library));
  EXPECT_FALSE(FreeLibrary(library)) << "the only reference is gone";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HMODULE madeUp = reinterpret_cast<HMODULE>(0x4321);
  EXPECT_EQ(GetProcAddress(madeUp, "cos"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  char buffer[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameA(madeUp, buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetModuleHandleA("libauralink-not-loaded.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE none = nullptr;
  int onStack = 0;
  EXPECT_FALSE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&onStack), &none));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(ModulePathOfAddress(&onStack), "");
}

TEST(ModuleLoading, LoadReferencesAreCountedLikeWindows) {
  HMODULE first = LoadLibraryA(kMathLibrary);
  HMODULE second = LoadLibraryA(kMathLibrary);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  HMODULE third = nullptr;  // without UNCHANGED_REFCOUNT: one more reference
  ASSERT_TRUE(GetModuleHandleExA(0, kMathLibrary, &third));
  EXPECT_EQ(third, first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_FALSE(FreeLibrary(first));
}

TEST(GetShortPathName, AnswersTheExistingPathItself) {
  std::string path = ProgramPath();
  char buffer[MAX_PATH * 4];
  EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, sizeof(buffer)), path.size());
  EXPECT_EQ(std::string(buffer), path);
  EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, 3), path.size() + 1) << "size needed with the terminator";
  EXPECT_EQ(GetShortPathNameA(path.c_str(), nullptr, 0), path.size() + 1);
  EXPECT_EQ(GetShortPathNameA("/nonexistent/auralink/dir", buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
