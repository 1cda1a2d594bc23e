// Modules as shared objects of the dynamic loader. An HMODULE is the loader's handle,
// which in glibc is the object's link map; that is how an address found by dladdr1 turns
// into a module handle. Handles are checked against those handed out here, so a stale
// or made-up HMODULE is refused rather than passed to the loader.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <unordered_map>

#include "win32_result.h"
#include <auralink/platform/error_text.h>
#include <auralink/platform/module_path.h>

namespace {

class ModuleRegistry {
 public:
  // A handle seen by the caller; loads counts the references it owns (FreeLibrary's).
  void Note(void* handle, bool addLoad) {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned& loads = modules_[handle];
    if (addLoad) ++loads;
  }
  bool Known(void* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return modules_.count(handle) != 0;
  }
  // True when the caller owned a reference, which it must now give back to the loader.
  bool DropLoad(void* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = modules_.find(handle);
    if (found == modules_.end() || found->second == 0) return false;
    // At zero the object may be unloaded, and its handle can no longer be trusted.
    if (--found->second == 0) modules_.erase(found);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<void*, unsigned> modules_;
};

ModuleRegistry& Registry() {
  static ModuleRegistry* registry = new ModuleRegistry();  // outlives module destructors
  return *registry;
}

thread_local std::string lastLoaderError;

void KeepLoaderError() {
  const char* text = dlerror();
  lastLoaderError = text ? text : "unknown loader error";
}

std::string RunningProgramPath() {
  std::string path(256, '\0');
  while (true) {
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string PathOfLinkMap(const link_map* map) {
  if (!map->l_name || !*map->l_name) return RunningProgramPath();  // the program itself
  std::error_code ec;
  auto absolute = std::filesystem::absolute(map->l_name, ec);
  return ec ? std::string(map->l_name) : absolute.lexically_normal().string();
}

const link_map* LinkMapOfAddress(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP)) return nullptr;
  return map;
}

// The loader's handle of a loaded object named by path ("" for the program), taking a
// reference like dlopen does.
void* OpenLoaded(const char* path, int extraFlags) {
  return dlopen(path && *path ? path : nullptr, RTLD_LAZY | RTLD_NOLOAD | extraFlags);
}

bool IsOrdinal(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) < 0x10000u; }

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (!lpLibFileName || !*lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* handle = dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    KeepLoaderError();
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  Registry().Note(handle, true);
  return static_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (!hModule || !Registry().Known(hModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (IsOrdinal(lpProcName)) {  // no export ordinals on Linux
    lastLoaderError = "exports have no ordinals";
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(hModule, lpProcName);
  if (!symbol) {
    KeepLoaderError();
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (!hLibModule || !Registry().DropLoad(hLibModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  dlclose(hLibModule);
  return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  void* handle = OpenLoaded(lpModuleName, 0);
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  dlclose(handle);  // GetModuleHandle takes no reference
  Registry().Note(handle, false);
  return static_cast<HMODULE>(handle);
}

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
  const bool pin = dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN;
  const bool unchanged = dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  if (!phModule || (pin && unchanged)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phModule = nullptr;
  std::string path;
  if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    const link_map* map = LinkMapOfAddress(lpModuleName);
    if (!map) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    path = map->l_name ? map->l_name : "";
  } else {
    path = lpModuleName ? lpModuleName : "";
  }
  void* handle = OpenLoaded(path.c_str(), pin ? RTLD_NODELETE : 0);
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  const bool keepReference = !pin && !unchanged;
  if (!keepReference) dlclose(handle);  // a pinned object stays loaded anyway
  Registry().Note(handle, keepReference);
  *phModule = static_cast<HMODULE>(handle);
  return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  if (!hModule) {
    path = RunningProgramPath();
  } else {
    link_map* map = nullptr;
    if (!Registry().Known(hModule) || dlinfo(hModule, RTLD_DI_LINKMAP, &map) != 0 || !map) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = PathOfLinkMap(map);
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    // Truncated and terminated; the answer is the buffer size.
    path.copy(lpFilename, nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  path.copy(lpFilename, path.size());
  lpFilename[path.size()] = '\0';
  return static_cast<DWORD>(path.size());
}

namespace auralink::platform {

std::string LastLoaderErrorText() { return lastLoaderError; }

std::string ModulePathOfAddress(const void* address) {
  const link_map* map = LinkMapOfAddress(address);
  return map ? PathOfLinkMap(map) : std::string();
}

}  // namespace auralink::platform
