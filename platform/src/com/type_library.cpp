// Registration of a module's type library under HKEY_CLASSES_ROOT\TypeLib. There are no
// type library files here: the module itself stands for its type library.
#include <statreg.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <windows.h>

#include "com_internal.h"

namespace auralink::platform {
namespace {

// "TypeLib\{libid}" and "<major>.<minor>" (hexadecimal, as Windows writes versions).
std::string LibraryKey(REFGUID libid) { return "TypeLib\\" + GuidToString(libid); }

std::string VersionName(WORD major, WORD minor) {
  char text[16];
  snprintf(text, sizeof(text), "%x.%x", major, minor);
  return text;
}

LONG SetDefault(HKEY parent, const std::string& subkey, const std::string& value) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(parent, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  result = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return result;
}

HRESULT Failure(LONG result, const std::string& what) {
  com::SetRegistrarErrorText(what + ": " + std::to_string(result) + " (" + ErrorMessageText(static_cast<DWORD>(result)) +
                             ")");
  return HRESULT_FROM_WIN32(result);
}

}  // namespace

HRESULT RegisterTypeLibrary(REFGUID libid, WORD major, WORD minor, const char* description,
                            const char* modulePath) {
  if (!modulePath || !*modulePath) {
    com::SetRegistrarErrorText("the type library " + GuidToString(libid) + " has no module path");
    return E_INVALIDARG;
  }
  const std::string versionKey = LibraryKey(libid) + "\\" + VersionName(major, minor);
  const std::string folder = std::filesystem::path(modulePath).parent_path().string();
  const struct {
    std::string subkey;
    std::string value;
  } entries[] = {
      {versionKey, description ? description : ""},
      {versionKey + "\\0\\win32", modulePath},
      {versionKey + "\\FLAGS", "0"},
      {versionKey + "\\HELPDIR", folder},
  };
  for (const auto& entry : entries) {
    LONG result = SetDefault(HKEY_CLASSES_ROOT, entry.subkey, entry.value);
    if (result != ERROR_SUCCESS) {
      HRESULT hr = Failure(result, "cannot write HKEY_CLASSES_ROOT\\" + entry.subkey);
      std::string reason = LastRegistrarErrorText();
      UnregisterTypeLibrary(libid, major, minor);  // nothing half-written stays behind
      com::SetRegistrarErrorText(reason);
      return hr;
    }
  }
  com::SetRegistrarErrorText({});
  return S_OK;
}

HRESULT UnregisterTypeLibrary(REFGUID libid, WORD major, WORD minor) {
  const std::string libraryKey = LibraryKey(libid);
  const std::string versionKey = libraryKey + "\\" + VersionName(major, minor);
  LONG result = RegDeleteTreeA(HKEY_CLASSES_ROOT, versionKey.c_str());
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
    return Failure(result, "cannot delete HKEY_CLASSES_ROOT\\" + versionKey);

  // Other versions of the library keep its key.
  HKEY key = nullptr;
  result = RegOpenKeyExA(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, &key);
  if (result == ERROR_SUCCESS) {
    DWORD subkeys = 0;
    DWORD values = 0;
    result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                              nullptr, nullptr);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && subkeys == 0 && values == 0)
      result = RegDeleteKeyA(HKEY_CLASSES_ROOT, libraryKey.c_str());
    if (result != ERROR_SUCCESS) return Failure(result, "cannot delete HKEY_CLASSES_ROOT\\" + libraryKey);
  }
  com::SetRegistrarErrorText({});
  return S_OK;
}

}  // namespace auralink::platform
