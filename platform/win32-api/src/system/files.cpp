// The few file functions the system uses: deleting, attributes and the short path form.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "win32_result.h"

namespace {

// Windows tells a missing file (ERROR_FILE_NOT_FOUND) from a missing folder on the way
// to it (ERROR_PATH_NOT_FOUND).
void SetLastErrorForPath(const char* path, int errnoValue) {
  if (errnoValue == ENOENT) {
    std::string text(path);
    size_t slash = text.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      struct stat info{};
      if (stat(text.substr(0, slash).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return;
      }
    }
  }
  auralink::platform::detail::SetLastErrorFromErrno(errnoValue);
}

}  // namespace

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (unlink(lpFileName) != 0) {
    SetLastErrorForPath(lpFileName, errno);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat info{};
  if (stat(lpFileName, &info) != 0) {
    SetLastErrorForPath(lpFileName, errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return access(lpFileName, W_OK) == 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  if (!lpszLongPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  struct stat info{};
  if (!*lpszLongPath || stat(lpszLongPath, &info) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  // Copied through a string so that the long and short buffers may be the same.
  std::string path(lpszLongPath);
  return auralink::platform::detail::CopyOutOrRequiredSize(path, lpszShortPath, cchBuffer);
}
