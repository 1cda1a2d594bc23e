#include "jvm_library.h"

#include <windows.h>

#include <cstdlib>

namespace auralink::orvex {

namespace {
constexpr const char* kLibraryInJavaHome = "/lib/server/libjvm.so";

bool IsSet(const char* value) { return value && *value; }

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}
}  // namespace

std::vector<std::string> JvmLibraryCandidates(const char* jvmLibrary, const char* javaHome,
                                              const std::string& defaultJavaHome) {
  std::vector<std::string> candidates;
  if (IsSet(jvmLibrary)) candidates.emplace_back(jvmLibrary);
  if (IsSet(javaHome)) candidates.push_back(WithoutTrailingSlash(javaHome) + kLibraryInJavaHome);
  if (!defaultJavaHome.empty()) candidates.push_back(WithoutTrailingSlash(defaultJavaHome) + kLibraryInJavaHome);
  return candidates;
}

std::vector<std::string> JvmLibraryCandidates() {
  return JvmLibraryCandidates(std::getenv(kJvmLibraryVariable), std::getenv("JAVA_HOME"), kDefaultJavaHome);
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
      return reinterpret_cast<CreateJavaVmFunction>(create);
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
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string option = "-Djava.class.path=" + folder;
  for (const char* archive : {"adapter.jar", "QlinkGateway.jar", "vellum.jar", "xerces.jar"})
    option += ":" + folder + "/" + archive;
  return option;
}

}  // namespace auralink::orvex
