// Paths of modules and the folder rules of the system: Windows accepts "\" and "/" between
// folders and writes "\", Linux knows only "/".
#pragma once
#include <string>
#include <string_view>

namespace auralink::platform {
// The full path of the program or module that contains the address; empty when no loaded
// module does.
std::string ModulePathOfAddress(const void* address);
// The separator this system writes between folders.
char PathSeparator();
// True for a character that separates folders here.
bool IsPathSeparator(char c);
// The folder part of a path, without its last separator; empty when there is none
// ("C:\a\b.dll" -> "C:\a", "/a/b.so" -> "/a").
std::string FolderOfPath(std::string_view path);
// folder + separator + name, without doubling a separator the folder already ends in; an
// empty folder gives the name alone.
std::string JoinPath(std::string_view folder, std::string_view name);
}  // namespace auralink::platform
