// A registration script, parsed: the keys and values it names under each root key.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace auralink::platform::registrar {

struct ScriptValue {
  DWORD type = REG_SZ;
  std::vector<BYTE> data;  // as RegSetValueEx takes it (a string with its terminator)
};

struct NamedValue {
  std::string name;
  ScriptValue value;
};

enum class KeyRule { Normal, NoRemove, ForceRemove, Delete };

struct ScriptKey {
  std::string name;
  KeyRule rule = KeyRule::Normal;
  std::optional<ScriptValue> defaultValue;
  std::vector<NamedValue> values;
  std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
  HKEY key = nullptr;
  std::vector<ScriptKey> subkeys;
};

// Looks a %NAME% up; false when there is no such replacement.
using ReplacementLookup = std::function<bool(const std::string& name, std::string& value)>;

// Parses a whole script; on a syntax error answers false with "line N: ..." in `error`.
bool ParseScript(const std::string& text, const ReplacementLookup& lookup, std::vector<ScriptRoot>& roots,
                 std::string& error);

}  // namespace auralink::platform::registrar
