// Escaping of arbitrary narrow text for XML content and attribute values.
#pragma once
#include <string>
#include <string_view>

namespace auralink::model {

// Appends text to out so that it reads back as the same characters inside an attribute
// value or element content of a UTF-8 XML 1.0 document:
//  - & < > " ' become entity references;
//  - tab, line feed and carriage return become character references (so the document
//    stays on one line and attribute values keep them);
//  - other C0 controls, which XML 1.0 cannot carry at all, become the matching Unicode
//    control picture (U+2400 + code), DEL and the C1 controls become character references;
//  - bytes that are not well-formed UTF-8, and the noncharacters U+FFFE and U+FFFF,
//    become U+FFFD, one per offending byte or character.
void AppendXmlEscaped(std::string& out, std::string_view text);

}  // namespace auralink::model
