#include "jvm_library.h"

#include <windows.h>

#include <cstdlib>

#include <auralink/platform/error_text.h>
#include <auralink/platform/module_path.h>

namespace auralink::orvex {

namespace {
#ifdef _WIN32
constexpr const char* kLibraryInJavaHome = "\\bin\\server\\jvm.dll";
constexpr const char* kClassPathSeparator = ";";
#else
constexpr const char* kLibraryInJavaHome = "/lib/server/libjvm.so";
constexpr const char* kClassPathSeparator = ":";
#endif

bool IsSet(const char* value) { return value && *value; }

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && auralink::platform::IsPathSeparator(path.back())) path.pop_back();
  return path;
}

#ifdef _WIN32
// A string value of HKEY_LOCAL_MACHINE\<key>; empty when it cannot be read.
std::string MachineString(const std::string& key, const char* name) {
  char value[MAX_PATH] = {};
  DWORD size = sizeof value - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return std::string();
  return value;
}
#endif
}  // namespace

std::string SystemJavaHome() {
#ifdef _WIN32
  for (const char* product : {"JDK", "Java Runtime Environment", "Java Development Kit"}) {
    const std::string productKey = std::string("SOFTWARE\\JavaSoft\\") + product;
    const std::string version = MachineString(productKey, "CurrentVersion");
    if (version.empty()) continue;
    const std::string home = MachineString(productKey + "\\" + version, "JavaHome");
    if (!home.empty()) return home;
  }
  return std::string();
#else
  return kDefaultJavaHome;
#endif
}

std::vector<std::string> JvmLibraryCandidates(const char* jvmLibrary, const char* javaHome,
                                              const std::string& defaultJavaHome) {
  std::vector<std::string> candidates;
  if (IsSet(jvmLibrary)) candidates.emplace_back(jvmLibrary);
  if (IsSet(javaHome)) candidates.push_back(WithoutTrailingSlash(javaHome) + kLibraryInJavaHome);
  if (!defaultJavaHome.empty()) candidates.push_back(WithoutTrailingSlash(defaultJavaHome) + kLibraryInJavaHome);
  return candidates;
}

std::vector<std::string> JvmLibraryCandidates() {
  return JvmLibraryCandidates(std::getenv(kJvmLibraryVariable), std::getenv("JAVA_HOME"), SystemJavaHome());
}

CreateJavaVmFunction LoadJvmLibrary(const std::vector<std::string>& candidates, std::string& loaded,
                                    std::string& failures) {
  failures.clear();
  for (const std::string& path : candidates) {
    HMODULE library = LoadLibraryA(path.c_str());
    if (!library) {
      failures += path + ": " + auralink::platform::LastLoaderErrorText() + "; ";
      continue;
    }
    FARPROC create = GetProcAddress(library, "JNI_CreateJavaVM");
    if (create) {
      loaded = path;
      return reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void (*)()>(create));
    }
    failures += path + ": no JNI_CreateJavaVM; ";
    FreeLibrary(library);
  }
  if (candidates.empty()) failures = "no place to look; ";
  failures.resize(failures.size() - 2);  // the last "; "
  return nullptr;
}

std::string JavaClassPathOption(const char* adapterPath) {
  std::string folder = IsSet(adapterPath) ? adapterPath : ".";
  folder = WithoutTrailingSlash(folder);
  std::string option = "-Djava.class.path=";
  option += folder;
  for (const char* archive : {"adapter.jar", "QlinkGateway.jar", "vellum.jar", "xerces.jar"}) {
    option += kClassPathSeparator;
    option += auralink::platform::JoinPath(folder, archive);
  }
  return option;
}

}  // namespace auralink::orvex
