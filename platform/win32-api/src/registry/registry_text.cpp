#include "registry_text.h"

#include <winreg.h>

#include <cstdio>
#include <vector>

namespace auralink::platform::registry {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view TrimLeft(std::string_view s) {
  const size_t start = s.find_first_not_of(kBlanks);
  return start == std::string_view::npos ? std::string_view() : s.substr(start);
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  return s.substr(0, s.find_last_not_of(kBlanks) + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits.
bool ParseHexNumber(std::string_view text, DWORD& number) {
  if (text.empty() || text.size() > 8) return false;
  number = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    number = (number << 4) | static_cast<DWORD>(digit);
  }
  return true;
}

class Parser {
 public:
  Parser(std::string_view text, Tree& tree, ParseError& error) : text_(text), tree_(tree), error_(error) {}

  bool Run() {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
    if (text_.empty()) return true;
    std::string_view line;
    NextLine(line);
    if (Trim(line) != kRegistryHeader) return Fail("the first line is not \"" + std::string(kRegistryHeader) + "\"");
    while (NextLine(line)) {
      line = Trim(line);
      if (line.empty() || line.front() == ';') continue;
      bool ok;
      if (line.front() == '[')
        ok = Section(line);
      else if (line.front() == '"' || line.front() == '@')
        ok = ValueLine(line);
      else
        ok = Fail("unexpected text, expected a [key] or a value");
      if (!ok) return false;
    }
    return true;
  }

 private:
  bool NextLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const size_t end = text_.find('\n', pos_);
    line = text_.substr(pos_, end == std::string_view::npos ? std::string_view::npos : end - pos_);
    pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    ++lineNumber_;
    return true;
  }

  bool Fail(std::string reason) {
    error_.line = lineNumber_;
    error_.reason = std::move(reason);
    return false;
  }

  bool Section(std::string_view line) {
    if (line.back() != ']') return Fail("a key line must end with \"]\"");
    std::string_view path = line.substr(1, line.size() - 2);
    if (!path.empty() && path.front() == '-') return Fail("key deletion lines are not supported");
    const size_t slash = path.find('\\');
    const std::string rootName = FoldName(path.substr(0, slash));
    KeyPath keyPath;
    if (rootName == "HKEY_LOCAL_MACHINE") {
      keyPath.hive = Hive::LocalMachine;
    } else if (rootName == "HKEY_CURRENT_USER") {
      keyPath.hive = Hive::CurrentUser;
    } else if (rootName == "HKEY_CLASSES_ROOT") {
      keyPath.hive = Hive::LocalMachine;
      keyPath.parts = {MakeName("SOFTWARE"), MakeName("Classes")};
    } else {
      return Fail("unknown root key \"" + std::string(path.substr(0, slash)) + "\"");
    }
    if (slash != std::string_view::npos) {
      if (const char* fault = AppendKeyPath(path.substr(slash + 1), keyPath.parts)) return Fail(fault);
    }
    bool created = false;
    key_ = &CreateKey(tree_, keyPath, created);
    return true;
  }

  // A quoted string at the start of `rest`; `rest` moves past the closing quote.
  bool Quoted(std::string_view& rest, std::string& out) {
    for (size_t i = 1; i < rest.size(); ++i) {
      const char c = rest[i];
      if (c == '"') {
        rest.remove_prefix(i + 1);
        return true;
      }
      if (c == '\\') {
        if (i + 1 >= rest.size() || (rest[i + 1] != '\\' && rest[i + 1] != '"'))
          return Fail("a backslash in a quoted string must be followed by \\ or \"");
        ++i;
      }
      out += rest[i];
    }
    return Fail("unterminated quoted string");
  }

  bool ValueLine(std::string_view line) {
    if (!key_) return Fail("value before the first [key] line");
    std::string name;
    std::string_view rest = line;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else if (!Quoted(rest, name)) {
      return false;
    }
    if (const char* fault = ValueNameFault(name)) return Fail(fault);
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() != '=') return Fail("expected \"=\" after the value name");
    rest = TrimLeft(rest.substr(1));

    DWORD type = REG_SZ;
    std::vector<BYTE> data;
    if (!rest.empty() && rest.front() == '"') {
      std::string text;
      if (!Quoted(rest, text)) return false;
      if (!Trim(rest).empty()) return Fail("unexpected text after the quoted string");
      data.assign(text.begin(), text.end());
    } else if (rest.substr(0, 6) == "dword:") {
      DWORD number = 0;
      if (!ParseHexNumber(rest.substr(6), number)) return Fail("dword: needs 1 to 8 hex digits");
      type = REG_DWORD;
      for (int i = 0; i < 4; ++i) data.push_back(static_cast<BYTE>(number >> (8 * i)));
    } else if (rest.substr(0, 3) == "hex") {
      if (!HexValue(rest, type, data)) return false;
    } else if (rest == "-") {
      return Fail("value deletion lines are not supported");
    } else {
      return Fail("unrecognised value data");
    }
    key_->SetValue(MakeName(name), type, StoredData(type, data.data(), data.size()));
    return true;
  }

  // hex:aa,bb or hex(N):aa,bb, continued on the next line after a trailing "\".
  bool HexValue(std::string_view rest, DWORD& type, std::vector<BYTE>& data) {
    const size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return Fail("expected \":\" after hex");
    const std::string_view kind = rest.substr(0, colon);
    type = REG_BINARY;
    if (kind != "hex" && (kind.size() < 6 || kind.substr(0, 4) != "hex(" || kind.back() != ')' ||
                          !ParseHexNumber(kind.substr(4, kind.size() - 5), type)))
      return Fail("expected hex: or hex(type):");
    std::string bytes(rest.substr(colon + 1));
    const size_t firstLine = lineNumber_;
    while (!bytes.empty() && bytes.back() == '\\') {
      bytes.pop_back();
      std::string_view next;
      if (!NextLine(next)) {
        lineNumber_ = firstLine;
        return Fail("hex data continues past the end of the file");
      }
      bytes += Trim(next);
    }
    std::string_view list = Trim(bytes);
    while (!list.empty()) {
      const size_t comma = list.find(',');
      const std::string_view item = Trim(list.substr(0, comma));
      DWORD byte = 0;
      if (item.size() > 2 || !ParseHexNumber(item, byte)) {
        lineNumber_ = firstLine;
        return Fail("hex data must be bytes of two hex digits separated by commas");
      }
      data.push_back(static_cast<BYTE>(byte));
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 1);
    }
    return true;
  }

  std::string_view text_;
  Tree& tree_;
  ParseError& error_;
  size_t pos_ = 0;
  size_t lineNumber_ = 0;
  Key* key_ = nullptr;
};

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

// A REG_SZ that the quoted form carries exactly: one terminating zero, no line breaks.
bool IsPlainString(const Value& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < value.data.size(); ++i) {
    const BYTE c = value.data[i];
    if (c == 0 || c == '\n' || c == '\r') return false;
  }
  return true;
}

void AppendHexBytes(std::string& out, const std::vector<BYTE>& data) {
  char byte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : ",%02x", data[i]);
    out += byte;
  }
}

void AppendValue(std::string& out, const Value& value) {
  if (value.name.text.empty())
    out += '@';
  else
    AppendQuoted(out, value.name.text);
  out += '=';
  char prefix[24];
  if (IsPlainString(value)) {
    AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1));
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    const DWORD number =
        value.data[0] | value.data[1] << 8 | value.data[2] << 16 | static_cast<DWORD>(value.data[3]) << 24;
    std::snprintf(prefix, sizeof prefix, "dword:%08x", number);
    out += prefix;
  } else {
    if (value.type == REG_BINARY) {
      out += "hex:";
    } else {
      std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
      out += prefix;
    }
    AppendHexBytes(out, value.data);
  }
  out += '\n';
}

void AppendSection(std::string& out, const std::string& path, const Key& key) {
  out += '[';
  out += path;
  out += "]\n";
  for (const Value& value : key.values()) AppendValue(out, value);
  out += '\n';
}

// Every key below `root`, whose full name is `rootPath`, parents before children, walked
// with an explicit stack so that the depth of the tree does not matter. `path` grows and
// shrinks with the walk.
void AppendSubkeys(std::string& out, std::string_view rootPath, const Key& root) {
  struct Level {
    Key::Subkeys::const_iterator next, end;
    size_t pathLength;
  };
  std::string path(rootPath);
  std::vector<Level> stack{{root.subkeys().begin(), root.subkeys().end(), path.size()}};
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.end) {
      stack.pop_back();
      continue;
    }
    const Key& key = *(level.next++)->second;
    path.resize(level.pathLength);
    path += '\\';
    path += key.name();
    AppendSection(out, path, key);
    stack.push_back({key.subkeys().begin(), key.subkeys().end(), path.size()});
  }
}

}  // namespace

bool ParseRegistryText(std::string_view text, Tree& tree, ParseError& error) { return Parser(text, tree, error).Run(); }

std::string FormatRegistryText(const Tree& tree) {
  std::string out(kRegistryHeader);
  out += "\n\n";
  for (const Key* root : {&tree.localMachine, &tree.currentUser}) {
    if (!root->values().empty()) AppendSection(out, root->name(), *root);
    AppendSubkeys(out, root->name(), *root);
  }
  return out;
}

std::string FormatRegistryExport(const Key& key, const std::string& path) {
  std::string out(kRegistryHeader);
  out += "\n\n";
  AppendSection(out, path, key);
  AppendSubkeys(out, path, key);
  return out;
}

}  // namespace auralink::platform::registry
