#include "model/classes_file_location.h"

namespace auralink::model {

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAbsolute(const std::string& path) {
  if (!path.empty() && IsSeparator(path[0])) return true;
  const bool driveLetter = path.size() >= 2 && path[1] == ':' &&
                           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return driveLetter;
}
}  // namespace

std::string ResolveClassesFile(const std::string& fileName, const std::string& logFileName) {
  if (fileName.empty() || IsAbsolute(fileName)) return fileName;
  const std::size_t lastSeparator = logFileName.find_last_of("\\/");
  if (lastSeparator == std::string::npos) return fileName;
  // Keep the log's own separator style so the traced path reads naturally.
  return logFileName.substr(0, lastSeparator + 1) + fileName;
}

std::string NativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

}  // namespace auralink::model
