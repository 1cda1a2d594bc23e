// auralink-regsvr [-u] MODULE...: registers (or with -u unregisters) COM server modules
// by calling their DllRegisterServer (DllUnregisterServer) entry point, one line of
// result per module. Exit status: 0 when every module succeeded, otherwise the code of
// the first failure: 1 usage, 3 module not loadable, 4 entry point missing, 5 entry point
// failed.
#include <objbase.h>
#include <statreg.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <auralink/platform/error_text.h>

namespace {

enum ExitCode { kSuccess = 0, kUsage = 1, kLoadFailed = 3, kEntryPointMissing = 4, kEntryPointFailed = 5 };

typedef HRESULT(STDAPICALLTYPE* LPFNREGISTER)();

void PrintUsage() {
  fprintf(stderr,
          "usage: auralink-regsvr [-u] MODULE...\n"
          "  Calls DllRegisterServer of each MODULE, or DllUnregisterServer with -u.\n");
}

// Windows looks in the current folder first; a module named with a folder is taken as it
// is. Either way the module is loaded by its full path, which is what it registers.
std::string ModuleToLoad(const std::string& argument) {
  std::error_code ec;
  if (argument.find('/') == std::string::npos && !std::filesystem::exists(argument, ec)) return argument;
  auto absolute = std::filesystem::absolute(argument, ec);
  return ec ? argument : absolute.lexically_normal().string();
}

int RegisterOne(const std::string& argument, bool unregister) {
  const char* entryPoint = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const std::string path = ModuleToLoad(argument);
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    printf("LoadLibrary(\"%s\") failed: %s\n", path.c_str(), auralink::platform::LastLoaderErrorText().c_str());
    return kLoadFailed;
  }
  int status = kSuccess;
  auto function = reinterpret_cast<LPFNREGISTER>(GetProcAddress(module, entryPoint));
  if (!function) {
    printf("%s was loaded, but the %s entry point was not found.\n", path.c_str(), entryPoint);
    status = kEntryPointMissing;
  } else {
    HRESULT hr = function();
    if (SUCCEEDED(hr)) {
      printf("%s in %s succeeded.\n", entryPoint, path.c_str());
    } else {
      std::string reason = auralink::platform::LastRegistrarErrorText();
      printf("%s in %s failed: 0x%08X%s%s\n", entryPoint, path.c_str(), static_cast<unsigned>(hr),
             reason.empty() ? "" : " - ", reason.c_str());
      status = kEntryPointFailed;
    }
  }
  FreeLibrary(module);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  std::vector<std::string> modules;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-u") == 0 || strcmp(argv[i], "/u") == 0) {
      unregister = true;
    } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      PrintUsage();
      return kSuccess;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      fprintf(stderr, "auralink-regsvr: unknown option %s\n", argv[i]);
      PrintUsage();
      return kUsage;
    } else {
      modules.push_back(argv[i]);
    }
  }
  if (modules.empty()) {
    PrintUsage();
    return kUsage;
  }

  // Registration code may create COM objects of its own.
  HRESULT init = CoInitialize(nullptr);
  int status = kSuccess;
  for (const std::string& module : modules) {
    int result = RegisterOne(module, unregister);
    if (status == kSuccess) status = result;
  }
  if (SUCCEEDED(init)) CoUninitialize();
  fflush(stdout);
  return status;
}
