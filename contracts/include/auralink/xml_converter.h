// Turns a CInstance into its XML stream: one well-formed, single-line UTF-8 document per
// object, laid out by m_type (docs/xml-streams.md). Any text the sources carry is escaped,
// so the document stays well-formed whatever the members hold.
#pragma once
#include <auralink/instance.h>

#include <string>

class CXMLConverter {
 public:
  // Replaces xml with the stream of the instance. 1 on success; 0 (xml emptied, one trace
  // line) when m_type is not one of the three kinds.
  int Convert(const CInstance& instance, std::string& xml) const;
};
