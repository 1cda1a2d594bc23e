// The command line of auralink-reg: an operation word, its operands and its switches,
// written "/v" or "-v" in any case.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace auralink::reg {

enum class Operation { Query, Add, Delete, Export, Import };

struct Arguments {
  std::optional<Operation> operation;    // none for "auralink-reg /?"
  std::vector<std::string> operands;     // the key, the file
  std::optional<std::string> valueName;  // /v NAME, or "" for /ve (the default value)
  bool allValues = false;                // /va
  bool recurse = false;                  // query /s
  std::optional<std::string> type;       // /t
  std::optional<std::string> data;       // /d
  std::string separator;                 // add /s
  bool force = false;                    // /f, /y: no question before overwriting or deleting
  bool help = false;                     // /?
};

// False with the reason when the words do not make a command. The first word is the
// operation; `operation` is set as soon as it is known, also when a later word is wrong.
bool ParseArguments(const std::vector<std::string>& words, Arguments& arguments, std::string& reason);

// The usage text of one operation, or of the whole tool for nullopt.
const char* UsageText(std::optional<Operation> operation);

}  // namespace auralink::reg
