// The folder rules of the system (the module's own path comes from the system: see
// ModulePathOfAddress in the Linux platform or windows/module_address.cpp).
#include <auralink/platform/module_path.h>

namespace auralink::platform {

#ifdef _WIN32
char PathSeparator() { return '\\'; }
bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }
#else
char PathSeparator() { return '/'; }
bool IsPathSeparator(char c) { return c == '/'; }
#endif

std::string FolderOfPath(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsPathSeparator(path[i - 1])) return std::string(path.substr(0, i - 1));
  return std::string();
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string joined(folder);
  if (!IsPathSeparator(joined.back())) joined += PathSeparator();
  joined += name;
  return joined;
}

}  // namespace auralink::platform
