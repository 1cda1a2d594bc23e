// Parses registration scripts: tokens separated by blanks, '...' quoted text ('' is a
// quote), %NAME% replacements, root keys with nested key blocks.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "registrar_script.h"

namespace auralink::platform::registrar {
namespace {

struct Token {
  std::string text;  // after replacement
  bool quoted = false;
  int line = 0;
};

bool EqualsIgnoringCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::string LinePrefix(int line) { return "line " + std::to_string(line) + ": "; }

bool Substitute(const std::string& raw, int line, const ReplacementLookup& lookup, std::string& out,
                std::string& error) {
  out.clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '%') {
      out += raw[i];
      continue;
    }
    size_t close = raw.find('%', i + 1);
    if (close == std::string::npos) {
      error = LinePrefix(line) + "'%' without a closing '%' (write %% for a percent sign)";
      return false;
    }
    std::string name = raw.substr(i + 1, close - i - 1);
    if (name.empty()) {
      out += '%';
    } else {
      std::string value;
      if (!lookup || !lookup(name, value)) {
        error = LinePrefix(line) + "%" + name + "% has no replacement";
        return false;
      }
      out += value;
    }
    i = close;
  }
  return true;
}

bool Tokenize(const std::string& text, const ReplacementLookup& lookup, std::vector<Token>& tokens,
              std::string& error) {
  int line = 1;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    Token token;
    token.line = line;
    std::string raw;
    if (c == '\'') {
      token.quoted = true;
      bool closed = false;
      for (++i; i < text.size(); ++i) {
        if (text[i] == '\n') break;
        if (text[i] != '\'') {
          raw += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\'') {
          raw += '\'';
          ++i;
        } else {
          closed = true;
          ++i;
          break;
        }
      }
      if (!closed) {
        error = LinePrefix(line) + "the quoted text '" + raw + "' is not closed on its line";
        return false;
      }
    } else {
      while (i < text.size() && !isspace(static_cast<unsigned char>(text[i]))) raw += text[i++];
    }
    if (!Substitute(raw, line, lookup, token.text, error)) return false;
    tokens.push_back(std::move(token));
  }
  return true;
}

// Keys deeper than the registry allows would only fail when written; refusing them here
// also bounds the parser's recursion, which takes one level per key.
constexpr int kMaxKeyLevel = 512;

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, std::string& error) : tokens_(tokens), error_(error) {}

  bool ParseRoots(std::vector<ScriptRoot>& roots) {
    while (const Token* token = Next()) {
      if (IsSymbol(token, "}")) return Fail(token->line, "'}' without a matching '{'");
      ScriptRoot root;
      root.key = RootKeyOf(*token);
      if (!root.key)
        return Fail(token->line, "'" + token->text + "' is not a root key (HKCR, HKCU, HKLM or their long names)");
      const Token* open = Next();
      if (!IsSymbol(open, "{"))
        return Fail(open ? open->line : token->line, "'{' expected after the root key " + token->text);
      if (!ParseBlock(root.subkeys, nullptr, open->line, 1)) return false;
      roots.push_back(std::move(root));
    }
    return true;
  }

 private:
  const Token* Next() { return position_ < tokens_.size() ? &tokens_[position_++] : nullptr; }
  const Token* Peek() const { return position_ < tokens_.size() ? &tokens_[position_] : nullptr; }

  static bool IsSymbol(const Token* token, const char* symbol) {
    return token && !token->quoted && token->text == symbol;
  }
  static bool IsKeyword(const Token* token, const char* word) {
    return token && !token->quoted && EqualsIgnoringCase(token->text, word);
  }
  static bool IsName(const Token* token) {
    return token && (token->quoted || (token->text != "{" && token->text != "}" && token->text != "="));
  }

  static HKEY RootKeyOf(const Token& token) {
    if (token.quoted) return nullptr;
    if (EqualsIgnoringCase(token.text, "HKCR") || EqualsIgnoringCase(token.text, "HKEY_CLASSES_ROOT"))
      return HKEY_CLASSES_ROOT;
    if (EqualsIgnoringCase(token.text, "HKCU") || EqualsIgnoringCase(token.text, "HKEY_CURRENT_USER"))
      return HKEY_CURRENT_USER;
    if (EqualsIgnoringCase(token.text, "HKLM") || EqualsIgnoringCase(token.text, "HKEY_LOCAL_MACHINE"))
      return HKEY_LOCAL_MACHINE;
    return nullptr;
  }

  bool Fail(int line, const std::string& message) {
    error_ = LinePrefix(line) + message;
    return false;
  }

  // The entries of a block up to its closing '}'. `values` is null at the root level,
  // where values cannot be set; the block's keys lie `level` levels below the root key.
  bool ParseBlock(std::vector<ScriptKey>& keys, std::vector<NamedValue>* values, int openLine, int level) {
    while (true) {
      const Token* token = Next();
      if (!token) return Fail(openLine, "the '{' on this line is not closed");
      if (IsSymbol(token, "}")) return true;
      if (IsSymbol(token, "{")) return Fail(token->line, "'{' without a key name before it");
      if (IsSymbol(token, "=")) return Fail(token->line, "'=' without a key name before it");
      if (IsKeyword(token, "val")) {
        if (!values) return Fail(token->line, "values cannot be set on a root key");
        NamedValue value;
        if (!ParseNamedValue(*token, value)) return false;
        values->push_back(std::move(value));
        continue;
      }
      ScriptKey key;
      if (IsKeyword(token, "NoRemove")) key.rule = KeyRule::NoRemove;
      else if (IsKeyword(token, "ForceRemove")) key.rule = KeyRule::ForceRemove;
      else if (IsKeyword(token, "Delete")) key.rule = KeyRule::Delete;
      if (key.rule != KeyRule::Normal) {
        const Token* name = Next();
        if (!IsName(name)) return Fail(name ? name->line : token->line, "a key name is expected after " + token->text);
        token = name;
      }
      if (token->text.empty()) return Fail(token->line, "a key name cannot be empty");
      if (level > kMaxKeyLevel)
        return Fail(token->line, "keys are nested deeper than " + std::to_string(kMaxKeyLevel) + " levels");
      key.name = token->text;
      if (IsSymbol(Peek(), "=")) {
        const Token* equals = Next();
        ScriptValue value;
        if (!ParseTypedValue(*equals, value)) return false;
        key.defaultValue = std::move(value);
      }
      if (IsSymbol(Peek(), "{")) {
        const Token* open = Next();
        if (!ParseBlock(key.subkeys, &key.values, open->line, level + 1)) return false;
      }
      keys.push_back(std::move(key));
    }
  }

  bool ParseNamedValue(const Token& val, NamedValue& value) {
    const Token* name = Next();
    if (!IsName(name)) return Fail(name ? name->line : val.line, "a value name is expected after 'val'");
    const Token* equals = Next();
    if (!IsSymbol(equals, "="))
      return Fail(equals ? equals->line : name->line, "'=' expected after val " + name->text);
    value.name = name->text;
    return ParseTypedValue(*equals, value.value);
  }

  // After '=': the type letter and the value.
  bool ParseTypedValue(const Token& equals, ScriptValue& value) {
    const Token* type = Next();
    if (!type || type->quoted || type->text.size() != 1 || !strchr("sSdDbB", type->text[0]))
      return Fail(type ? type->line : equals.line,
                  "value type s, d or b expected after '='" + (type ? ", found '" + type->text + "'" : std::string()));
    const Token* data = Next();
    if (!data || !IsName(data)) return Fail(data ? data->line : type->line, "a value is expected after '" + type->text + "'");
    switch (tolower(static_cast<unsigned char>(type->text[0]))) {
      case 's':
        value.type = REG_SZ;
        value.data.assign(data->text.begin(), data->text.end());
        value.data.push_back(0);
        return true;
      case 'd': {
        DWORD number = 0;
        if (!ParseNumber(data->text, number)) return Fail(data->line, "'" + data->text + "' is not a 32-bit number");
        value.type = REG_DWORD;
        value.data.resize(sizeof(number));
        memcpy(value.data.data(), &number, sizeof(number));
        return true;
      }
      default:
        value.type = REG_BINARY;
        if (!ParseHexBytes(data->text, value.data))
          return Fail(data->line, "'" + data->text + "' is not a sequence of hexadecimal bytes");
        return true;
    }
  }

  // Decimal, or hexadecimal with 0x; negative decimal numbers wrap like a LONG would.
  static bool ParseNumber(const std::string& text, DWORD& number) {
    if (text.empty()) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    if (hex || text[0] != '-') {
      unsigned long long value = strtoull(text.c_str(), &end, hex ? 16 : 10);
      if (errno || *end || value > 0xFFFFFFFFull || text[0] == '+' || isspace(static_cast<unsigned char>(text[0])))
        return false;
      number = static_cast<DWORD>(value);
      return true;
    }
    long long value = strtoll(text.c_str(), &end, 10);
    if (errno || *end || value < INT32_MIN) return false;
    number = static_cast<DWORD>(static_cast<LONG>(value));
    return true;
  }

  static bool ParseHexBytes(const std::string& text, std::vector<BYTE>& bytes) {
    if (text.size() % 2) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
      if (!isxdigit(static_cast<unsigned char>(text[i])) || !isxdigit(static_cast<unsigned char>(text[i + 1])))
        return false;
      bytes.push_back(static_cast<BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return true;
  }

  const std::vector<Token>& tokens_;
  std::string& error_;
  size_t position_ = 0;
};

}  // namespace

bool ParseScript(const std::string& text, const ReplacementLookup& lookup, std::vector<ScriptRoot>& roots,
                 std::string& error) {
  std::vector<Token> tokens;
  if (!Tokenize(text, lookup, tokens, error)) return false;
  std::vector<ScriptRoot> parsed;
  Parser parser(tokens, error);
  if (!parser.ParseRoots(parsed)) return false;
  roots = std::move(parsed);
  return true;
}

}  // namespace auralink::platform::registrar
