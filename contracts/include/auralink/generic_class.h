// What an agent's supported-classes file says (docs/supported-classes.md): the classes of
// the source that the agent forwards, and the link types between them.
#pragma once
#include <map>
#include <string>

// One supported class of the source.
class CGenericClass {
 public:
  std::string m_className;    // the Orvex class the source class becomes
  std::string m_sourceClass;  // the class name as the source spells it
  // Attribute (and key) names of the source class that Orvex knows by another name.
  std::map<std::string, std::string> m_attributeNames;
};

// One link type: a child of m_sourceClass linked to a parent of m_targetClass (both named
// as the source spells them) is a link of m_linkType.
class CGenericLink {
 public:
  std::string m_sourceClass;
  std::string m_targetClass;
  std::string m_linkType;
};
