// Reader of the supported-classes file format (docs/supported-classes.md). Every line is
// checked for its form; only the lines that serve the agent asked for are checked against
// one another, so one agent's mistakes do not stop another agent.
#include <map>
#include <utility>

#include "model/supported_classes.h"

namespace auralink::model {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits one line into words: blanks separate them, a double-quoted word may hold blanks,
// and a '#' that starts a word comments out the rest of the line.
bool SplitWords(std::string_view line, std::vector<std::string>& words, std::string& problem) {
  std::size_t pos = 0;
  while (true) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] == '#') return true;
    std::string word;
    if (line[pos] == '"') {
      const std::size_t close = line.find('"', pos + 1);
      if (close == std::string_view::npos) {
        problem = "a quoted name is not closed";
        return false;
      }
      word = line.substr(pos + 1, close - pos - 1);
      pos = close + 1;
      if (word.empty()) {
        problem = "a quoted name is empty";
        return false;
      }
      if (pos < line.size() && !IsBlank(line[pos])) {
        problem = "a quoted name must be followed by a blank";
        return false;
      }
    } else {
      while (pos < line.size() && !IsBlank(line[pos])) {
        if (line[pos] == '"') {
          problem = "a quotation mark inside a name";
          return false;
        }
        word += line[pos++];
      }
    }
    words.push_back(std::move(word));
  }
}

struct PendingRename {
  int line;
  std::string sourceClass, attribute, newName;
};
struct PendingLink {
  int line;
  CGenericLink link;
};

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

bool SupportedClasses::Parse(std::string_view text, std::string_view agentName, SupportedClasses& out,
                             Error& error) {
  SupportedClasses result;
  std::map<std::string, int> classLines;
  std::map<std::string, int> sectionLines;
  // Statements before the first "agent" line serve every agent; after it, only the agent
  // whose section they are in.
  bool forThisAgent = true;
  std::vector<PendingRename> renames;
  std::vector<PendingLink> links;
  const auto fail = [&](int line, std::string message) {
    error.line = line;
    error.message = std::move(message);
    return false;
  };

  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // byte-order mark of some editors
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::vector<std::string> words;
    std::string problem;
    if (!SplitWords(line, words, problem)) return fail(lineNumber, problem);
    if (words.empty()) continue;
    const std::string& keyword = words[0];
    if (keyword == "agent") {
      if (words.size() != 2) return fail(lineNumber, "\"agent\" takes an agent name");
      const auto [seen, fresh] = sectionLines.emplace(words[1], lineNumber);
      if (!fresh)
        return fail(lineNumber, "agent " + Quoted(words[1]) + " already has a section at line " +
                                    std::to_string(seen->second));
      forThisAgent = words[1] == agentName;
    } else if (keyword == "class") {
      if (words.size() != 3) return fail(lineNumber, "\"class\" takes a source class and an Orvex class");
      if (!forThisAgent) continue;
      const auto [seen, fresh] = classLines.emplace(words[1], lineNumber);
      if (!fresh)
        return fail(lineNumber, "class " + Quoted(words[1]) + " is already listed at line " +
                                    std::to_string(seen->second));
      CGenericClass& listed = result.classes_[words[1]];
      listed.m_sourceClass = words[1];
      listed.m_className = words[2];
    } else if (keyword == "rename") {
      if (words.size() != 4)
        return fail(lineNumber, "\"rename\" takes a source class, a source attribute and an Orvex attribute");
      if (forThisAgent) renames.push_back({lineNumber, words[1], words[2], words[3]});
    } else if (keyword == "link") {
      if (words.size() != 4) return fail(lineNumber, "\"link\" takes a source class, a target class and a link type");
      if (forThisAgent) links.push_back({lineNumber, {words[1], words[2], words[3]}});
    } else {
      return fail(lineNumber, "unknown keyword " + Quoted(keyword) + " (expected agent, class, rename or link)");
    }
  }

  // Renames and links may name classes listed further down, so they are checked last.
  std::map<std::pair<std::string, std::string>, int> renameLines;
  for (const PendingRename& rename : renames) {
    const auto listed = result.classes_.find(rename.sourceClass);
    if (listed == result.classes_.end())
      return fail(rename.line, "rename for the class " + Quoted(rename.sourceClass) + ", which is not listed");
    const auto [seen, fresh] = renameLines.emplace(std::make_pair(rename.sourceClass, rename.attribute), rename.line);
    if (!fresh)
      return fail(rename.line, "attribute " + Quoted(rename.attribute) + " of the class " +
                                   Quoted(rename.sourceClass) + " is already renamed at line " +
                                   std::to_string(seen->second));
    listed->second.m_attributeNames[rename.attribute] = rename.newName;
  }
  std::map<std::pair<std::string, std::string>, int> linkLines;
  for (const PendingLink& pending : links) {
    for (const std::string* end : {&pending.link.m_sourceClass, &pending.link.m_targetClass})
      if (!result.classes_.count(*end))
        return fail(pending.line, "link with the class " + Quoted(*end) + ", which is not listed");
    const auto [seen, fresh] =
        linkLines.emplace(std::make_pair(pending.link.m_sourceClass, pending.link.m_targetClass), pending.line);
    if (!fresh)
      return fail(pending.line, "link from " + Quoted(pending.link.m_sourceClass) + " to " +
                                    Quoted(pending.link.m_targetClass) + " is already listed at line " +
                                    std::to_string(seen->second));
    result.links_.push_back(pending.link);
  }
  if (result.classes_.empty()) return fail(0, "no class is listed for the agent " + Quoted(std::string(agentName)));

  out = std::move(result);
  return true;
}

}  // namespace auralink::model
