// Registration of a module's type library on Linux: the keys that RegisterTypeLib writes on
// 64-bit Windows, under HKEY_CLASSES_ROOT\TypeLib and, for each interface the library
// describes, HKEY_CLASSES_ROOT\Interface. No type library file is read here: the module
// stands for its type library and the module's IDL file gave the interface list.
#include <windows.h>

#include <statreg.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <auralink/platform/error_text.h>
#include <auralink/platform/guid_text.h>

#include "registrar_support.h"

namespace auralink::platform {
namespace {

// "TypeLib\{libid}" and "<major>.<minor>" (hexadecimal, as Windows writes versions).
std::string LibraryKey(REFGUID libid) { return "TypeLib\\" + GuidToString(libid); }
std::string InterfaceKey(REFIID iid) { return "Interface\\" + GuidToString(iid); }

// The automation (type library) marshaler of OLE Automation, PSOAInterface.
constexpr const char* kAutomationMarshaler = "{00020424-0000-0000-C000-000000000046}";

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

LONG SetValue(HKEY root, const std::string& subkey, const char* name, const std::string& value) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_SET_VALUE, &key);
  if (result != ERROR_SUCCESS) return result;
  result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
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
                            const char* modulePath, const TypeLibraryInterface* interfaces) {
  if (!modulePath || !*modulePath) {
    com::SetRegistrarErrorText("the type library " + GuidToString(libid) + " has no module path");
    return E_INVALIDARG;
  }
  const std::string versionKey = LibraryKey(libid) + "\\" + VersionName(major, minor);
  const std::string folder = std::filesystem::path(modulePath).parent_path().string();
  struct Entry {
    std::string subkey;
    std::string value;
  };
  std::vector<Entry> entries = {
      {versionKey, description ? description : ""},
      {versionKey + "\\0\\win64", modulePath},
      {versionKey + "\\FLAGS", "0"},
      {versionKey + "\\HELPDIR", folder},
  };
  for (const TypeLibraryInterface* entry = interfaces; entry && entry->name; ++entry) {
    const std::string key = InterfaceKey(*entry->iid);
    entries.push_back({key, entry->name});
    entries.push_back({key + "\\ProxyStubClsid32", kAutomationMarshaler});
    entries.push_back({key + "\\ProxyStubClsid", kAutomationMarshaler});
    entries.push_back({key + "\\TypeLib", GuidToString(libid)});
  }
  for (const auto& entry : entries) {
    LONG result = SetDefault(HKEY_CLASSES_ROOT, entry.subkey, entry.value);
    if (result == ERROR_SUCCESS && entry.subkey.ends_with("\\TypeLib"))
      result = SetValue(HKEY_CLASSES_ROOT, entry.subkey, "Version", VersionName(major, minor));
    if (result != ERROR_SUCCESS) {
      HRESULT hr = Failure(result, "cannot write HKEY_CLASSES_ROOT\\" + entry.subkey);
      std::string reason = LastRegistrarErrorText();
      UnregisterTypeLibrary(libid, major, minor, interfaces);  // nothing half-written stays behind
      com::SetRegistrarErrorText(reason);
      return hr;
    }
  }
  com::SetRegistrarErrorText({});
  return S_OK;
}

HRESULT UnregisterTypeLibrary(REFGUID libid, WORD major, WORD minor, const TypeLibraryInterface* interfaces) {
  // An interface whose TypeLib names another library now belongs to that one.
  for (const TypeLibraryInterface* entry = interfaces; entry && entry->name; ++entry) {
    const std::string key = InterfaceKey(*entry->iid);
    std::string owner;
    if (com::ReadDefaultText(HKEY_CLASSES_ROOT, key + "\\TypeLib", owner) && owner == GuidToString(libid)) {
      LONG result = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
      if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        return Failure(result, "cannot delete HKEY_CLASSES_ROOT\\" + key);
    }
  }
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
