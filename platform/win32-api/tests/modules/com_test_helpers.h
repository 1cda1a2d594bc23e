// Helpers shared by the COM tests: COM initialisation for a scope, registry reads, and
// the test server's entry points.
#pragma once
#include <objbase.h>
#include <windows.h>

#include <string>

namespace auralink::testing {

// CoInitializeEx for the scope of a test.
class ComScope {
 public:
  explicit ComScope(DWORD model = COINIT_APARTMENTTHREADED) : hr_(CoInitializeEx(nullptr, model)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  HRESULT Result() const { return hr_; }

 private:
  HRESULT hr_;
};

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A string value ("" for the default value); "<missing>" when key or value is absent.
inline std::string ReadString(HKEY root, const std::string& path, const char* name = "") {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<missing>";
  char buffer[1024] = {};
  DWORD bytes = sizeof(buffer) - 1;
  DWORD type = 0;
  LONG result = RegQueryValueExA(key, *name ? name : nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
  return buffer;
}

inline DWORD CountSubkeysAndValues(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD subkeys = 0, values = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  return subkeys + values;
}

// Creates a key (and its parents).
inline void CreateKey(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

inline void SetDefaultString(HKEY root, const std::string& path, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

// A controlling outer object for aggregation tests. It lives on the stack: its count only
// shows who holds references. Interfaces other than IUnknown come from the inner object.
class TestOuter : public IUnknown {
 public:
  ~TestOuter() {
    if (inner) inner->Release();
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

  LONG refs = 1;
  IUnknown* inner = nullptr;  // the aggregated object's own IUnknown
};

// Calls one exported entry point of a module (loaded for the call only).
inline HRESULT CallModuleEntry(const char* modulePath, const char* entryPoint) {
  HMODULE module = LoadLibraryA(modulePath);
  if (!module) return E_FAIL;
  auto function = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, entryPoint));
  HRESULT hr = function ? function() : E_NOTIMPL;
  FreeLibrary(module);
  return hr;
}

}  // namespace auralink::testing
