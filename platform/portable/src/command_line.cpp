// Splitting one Windows command line into its words, as a Windows program's start-up
// code does before main().
#include <auralink/platform/command_line.h>

namespace auralink::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i == line.size()) return words;

  // The program: quotes only group, backslashes are plain characters.
  std::string program;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && IsBlank(c)) {
      break;
    } else {
      program += c;
    }
  }
  words.push_back(std::move(program));

  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) break;
    std::string word;
    quoted = false;
    while (i < line.size()) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == '"') {
        word.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          word += '"';
          ++i;
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          word += '"';  // "" inside a group: a literal quote, the group goes on
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      word.append(backslashes, '\\');
      if (i == line.size() || (!quoted && IsBlank(line[i]))) break;
      word += line[i++];
    }
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace auralink::platform
