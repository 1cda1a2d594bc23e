// An agent's supported classes as read from its file, and the translation they drive.
#pragma once
#include <auralink/generic_class.h>
#include <auralink/instance.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace auralink::model {

class SupportedClasses {
 public:
  // Where the text is wrong: 1-based line (0 when no line is at fault) and what is wrong.
  struct Error {
    int line = 0;
    std::string message;
  };

  // Reads what the text of a supported-classes file says for one agent: the statements
  // before any "agent" line and those of the agent's own section. False with error filled
  // when the text is malformed or lists no class for the agent.
  static bool Parse(std::string_view text, std::string_view agentName, SupportedClasses& out, Error& error);

  const std::map<std::string, CGenericClass>& Classes() const { return classes_; }
  const std::vector<CGenericLink>& Links() const { return links_; }

  // Translates the object in place (see CRemapper::Remap); false leaves it untouched.
  bool Remap(CInstance& instance) const;

 private:
  const CGenericClass* FindSourceClass(const std::string& name) const;
  // Whether name is the source class or the Orvex class of the listed source class.
  bool Names(const std::string& sourceClass, const std::string& name) const;
  // The class an event names: the source class of that name first, else the first (by
  // source name) whose Orvex class has that name.
  const CGenericClass* ResolveEventClass(const std::string& name) const;
  bool RemapInstance(CInstance& instance) const;
  bool RemapLink(CInstance& instance) const;
  bool RemapEvent(CInstance& instance) const;

  std::map<std::string, CGenericClass> classes_;
  std::vector<CGenericLink> links_;
};

// Renames the names of values by the rename table: renamed names win over a value that
// already carried the new name.
void RenameAttributes(std::map<std::string, std::string>& values, const std::map<std::string, std::string>& names);

}  // namespace auralink::model
