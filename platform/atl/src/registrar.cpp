// CRegObject: applies a parsed registration script to the registry, or takes it back.
#include <windows.h>

#include <statreg.h>
#include <strings.h>

#include <auralink/platform/error_text.h>

#include "registrar_support.h"
#include "registrar_script.h"

namespace auralink::platform::registrar {
namespace {

std::string Describe(LONG error) {
  return std::to_string(error) + " (" + ErrorMessageText(static_cast<DWORD>(error)) + ")";
}

// One key open for the duration of a step, closed on every path.
class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

class Applier {
 public:
  explicit Applier(std::string& error) : error_(error) {}

  LONG Register(const ScriptRoot& root) {
    const std::string path = com::RootKeyName(root.key);
    for (const ScriptKey& key : root.subkeys) {
      LONG result = RegisterKey(root.key, path, key);
      if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
  }

  // Goes on after a failure so that as much as possible is removed; answers the first.
  LONG Unregister(const ScriptRoot& root) {
    const std::string path = com::RootKeyName(root.key);
    LONG first = ERROR_SUCCESS;
    for (const ScriptKey& key : root.subkeys) {
      LONG result = UnregisterKey(root.key, path, key);
      if (first == ERROR_SUCCESS) first = result;
    }
    return first;
  }

 private:
  LONG Fail(LONG result, const std::string& what) {
    if (error_.empty()) error_ = what + ": " + Describe(result);
    return result;
  }

  static LONG SetValue(HKEY key, const char* name, const ScriptValue& value) {
    return RegSetValueExA(key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
  }

  // Removes a key with its subtree; a key that is not there is fine.
  static LONG DeleteTree(HKEY parent, const std::string& name) {
    LONG result = RegDeleteTreeA(parent, name.c_str());
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
  }

  LONG RegisterKey(HKEY parent, const std::string& parentPath, const ScriptKey& key) {
    const std::string path = parentPath + "\\" + key.name;
    if (key.rule == KeyRule::Delete || key.rule == KeyRule::ForceRemove) {
      LONG result = DeleteTree(parent, key.name);
      if (result != ERROR_SUCCESS) return Fail(result, "cannot delete " + path);
      if (key.rule == KeyRule::Delete) return ERROR_SUCCESS;
    }
    OpenKey opened;
    LONG result = RegCreateKeyExA(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, opened.Out(), nullptr);
    if (result != ERROR_SUCCESS) return Fail(result, "cannot create " + path);
    if (key.defaultValue) {
      result = SetValue(opened.Get(), nullptr, *key.defaultValue);
      if (result != ERROR_SUCCESS) return Fail(result, "cannot set the default value of " + path);
    }
    for (const NamedValue& value : key.values) {
      result = SetValue(opened.Get(), value.name.c_str(), value.value);
      if (result != ERROR_SUCCESS) return Fail(result, "cannot set the value " + value.name + " of " + path);
    }
    for (const ScriptKey& subkey : key.subkeys) {
      result = RegisterKey(opened.Get(), path, subkey);
      if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
  }

  LONG UnregisterKey(HKEY parent, const std::string& parentPath, const ScriptKey& key) {
    const std::string path = parentPath + "\\" + key.name;
    if (key.rule == KeyRule::Delete) return ERROR_SUCCESS;
    if (key.rule != KeyRule::NoRemove) {
      LONG result = DeleteTree(parent, key.name);
      return result == ERROR_SUCCESS ? result : Fail(result, "cannot delete " + path);
    }
    // A NoRemove key stays; only what the script put into it goes.
    OpenKey opened;
    LONG result = RegOpenKeyExA(parent, key.name.c_str(), 0, KEY_ALL_ACCESS, opened.Out());
    if (result == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return Fail(result, "cannot open " + path);
    LONG first = ERROR_SUCCESS;
    for (const NamedValue& value : key.values) {
      result = RegDeleteValueA(opened.Get(), value.name.c_str());
      if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND && first == ERROR_SUCCESS)
        first = Fail(result, "cannot delete the value " + value.name + " of " + path);
    }
    for (const ScriptKey& subkey : key.subkeys) {
      result = UnregisterKey(opened.Get(), path, subkey);
      if (first == ERROR_SUCCESS) first = result;
    }
    return first;
  }

  std::string& error_;
};

}  // namespace
}  // namespace auralink::platform::registrar

namespace ATL {

using auralink::platform::registrar::Applier;
using auralink::platform::registrar::ScriptRoot;

bool CRegObject::NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

HRESULT CRegObject::AddReplacement(LPCSTR key, LPCSTR item) {
  if (!key || !*key || !item) return E_INVALIDARG;
  m_replacements[key] = item;
  return S_OK;
}

HRESULT CRegObject::ClearReplacements() {
  m_replacements.clear();
  return S_OK;
}

HRESULT CRegObject::StringRegister(LPCSTR script) { return Apply(script, true); }

HRESULT CRegObject::StringUnregister(LPCSTR script) { return Apply(script, false); }

HRESULT CRegObject::Apply(LPCSTR script, bool bRegister) {
  m_errorText.clear();
  HRESULT hr = S_OK;
  std::vector<ScriptRoot> roots;
  auto lookup = [this](const std::string& name, std::string& value) {
    auto found = m_replacements.find(name);
    if (found == m_replacements.end()) return false;
    value = found->second;
    return true;
  };
  if (!script) {
    m_errorText = "no registration script";
    hr = E_INVALIDARG;
  } else if (!auralink::platform::registrar::ParseScript(script, lookup, roots, m_errorText)) {
    m_errorText = "registration script, " + m_errorText;
    hr = DISP_E_EXCEPTION;
  } else {
    Applier applier(m_errorText);
    LONG first = ERROR_SUCCESS;
    for (const ScriptRoot& root : roots) {
      LONG result = bRegister ? applier.Register(root) : applier.Unregister(root);
      if (first == ERROR_SUCCESS) first = result;
      if (first != ERROR_SUCCESS && bRegister) break;
    }
    if (first != ERROR_SUCCESS) {
      // Take back what a failed registration wrote; the first error is the one reported.
      if (bRegister)
        for (const ScriptRoot& root : roots) applier.Unregister(root);
      hr = HRESULT_FROM_WIN32(first);
    }
  }
  auralink::platform::com::SetRegistrarErrorText(m_errorText);
  return hr;
}

}  // namespace ATL
