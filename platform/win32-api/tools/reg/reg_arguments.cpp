#include "reg_arguments.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <string_view>

namespace auralink::reg {

namespace {

struct OperationWord {
  const char* word;
  Operation operation;
  size_t operands;        // how many operands it takes
  const char* switches;   // the switches it accepts, each followed by a blank
  const char* usage;
};

const OperationWord kOperations[] = {
    {"query", Operation::Query, 1, "v ve s ",
     "auralink-reg query KEY [/v NAME | /ve] [/s]\n"
     "  Prints the values of KEY and the names of its subkeys; /s goes through every key\n"
     "  below it. /v prints the value NAME only (with /s: in every key that has one), /ve\n"
     "  the default value.\n"},
    {"add", Operation::Add, 1, "v ve t s d f ",
     "auralink-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
     "  Creates KEY and, with /v or /ve, sets a value in it. TYPE is REG_SZ (the default),\n"
     "  REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD or REG_BINARY. REG_DWORD data is decimal\n"
     "  (negative numbers are stored as 32-bit two's complement) or hexadecimal with 0x;\n"
     "  REG_BINARY data is hex digits (\"01ff\"); REG_MULTI_SZ entries are separated by\n"
     "  \\0 or by SEPARATOR. /f replaces an existing value without asking.\n"},
    {"delete", Operation::Delete, 1, "v ve va f ",
     "auralink-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
     "  Deletes KEY with everything below it, or only the value NAME (/v), the default\n"
     "  value (/ve) or all values of KEY (/va). /f deletes without asking.\n"},
    {"export", Operation::Export, 2, "y ",
     "auralink-reg export KEY FILE [/y]\n"
     "  Writes KEY and everything below it to FILE in registry-export format. /y replaces\n"
     "  an existing FILE without asking.\n"},
    {"import", Operation::Import, 1, "",
     "auralink-reg import FILE\n"
     "  Creates the keys and sets the values that FILE (registry-export format) holds;\n"
     "  other keys and values stay as they are.\n"},
};

constexpr const char* kToolUsage =
    "usage: auralink-reg OPERATION [/?] ...\n"
    "  Reads and changes the registry file named by AURALINK_REGISTRY (by default\n"
    "  /var/lib/auralink/registry.reg). OPERATION is query, add, delete, export or\n"
    "  import; \"auralink-reg OPERATION /?\" describes one. Keys are written\n"
    "  HKLM\\SOFTWARE\\Kestrova\\Auralink or HKEY_LOCAL_MACHINE\\SOFTWARE\\...\n"
    "  Exit status: 0 success, 1 failure (with a line starting \"ERROR:\" on standard\n"
    "  error).\n";

bool Accepts(const OperationWord& operation, const std::string& name) {
  return (std::string(" ") + operation.switches).find(" " + name + " ") != std::string::npos;
}

// "/v" or "-v" in any case -> "v"; empty when the word is no switch. A word such as
// "/tmp/file.reg" is an operand: switches are a few letters or "?".
std::string SwitchName(const std::string& word) {
  if (word.size() < 2 || word.size() > 3 || (word[0] != '/' && word[0] != '-')) return {};
  std::string name;
  for (char c : word.substr(1)) {
    if (c != '?' && !isalpha(static_cast<unsigned char>(c))) return {};
    name += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

const OperationWord* FindOperation(std::string_view word) {
  for (const OperationWord& operation : kOperations) {
    if (word.size() == strlen(operation.word) && strncasecmp(word.data(), operation.word, word.size()) == 0)
      return &operation;
  }
  return nullptr;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& words, Arguments& arguments, std::string& reason) {
  if (words.empty()) {
    reason = "no operation given";
    return false;
  }
  if (SwitchName(words[0]) == "?") {
    arguments.help = true;
    return true;
  }
  const OperationWord* operation = FindOperation(words[0]);
  if (!operation) {
    reason = "\"" + words[0] + "\" is no operation (query, add, delete, export, import)";
    return false;
  }
  arguments.operation = operation->operation;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string name = SwitchName(words[i]);
    if (name == "?") {
      arguments.help = true;
      return true;
    }
    if (name.empty()) {
      arguments.operands.push_back(words[i]);
      continue;
    }
    if (!Accepts(*operation, name)) {
      reason = words[i] + " is no switch of " + operation->word;
      return false;
    }
    const bool takesWord = name == "v" || name == "t" || name == "d" || (name == "s" && operation->operation == Operation::Add);
    if (takesWord && i + 1 >= words.size()) {
      reason = words[i] + " needs a word after it";
      return false;
    }
    const bool nameGiven = arguments.valueName.has_value() || arguments.allValues;
    if ((name == "v" || name == "ve" || name == "va") && nameGiven) {
      reason = "/v, /ve and /va exclude each other and come once";
      return false;
    }
    if (name == "v") {
      arguments.valueName = words[++i];
    } else if (name == "ve") {
      arguments.valueName = std::string();
    } else if (name == "va") {
      arguments.allValues = true;
    } else if (name == "t") {
      arguments.type = words[++i];
    } else if (name == "d") {
      arguments.data = words[++i];
    } else if (name == "s" && operation->operation == Operation::Add) {
      arguments.separator = words[++i];
      if (arguments.separator.empty()) {
        reason = "/s needs a separator";
        return false;
      }
    } else if (name == "s") {
      arguments.recurse = true;
    } else {  // f, y
      arguments.force = true;
    }
  }
  if (arguments.operands.size() != operation->operands) {
    reason = std::string(operation->word) + " takes " + (operation->operands == 1 ? "one operand" : "two operands") +
             ", got " + std::to_string(arguments.operands.size());
    return false;
  }
  return true;
}

const char* UsageText(std::optional<Operation> operation) {
  if (!operation) return kToolUsage;
  for (const OperationWord& known : kOperations) {
    if (known.operation == *operation) return known.usage;
  }
  return kToolUsage;
}

}  // namespace auralink::reg
