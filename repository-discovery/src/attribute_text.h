// Reading the texts that reach the processing class: the object identifier, in its bare or
// its "key=value|" form, and the attribute text of an object ("name=value|" fields, no
// escaping), whose severity field becomes a severity name.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace quillon {

// An object identifier and the key it is known by ("uuid" unless the text names one).
struct ObjectIdentifier {
  std::string key;
  std::string id;
};

// "ABC" gives uuid/ABC. "key=ABC|" gives key/ABC: the key is the text before the first "=",
// the identifier the text after it without its last (closing) character. "" gives ""/"".
ObjectIdentifier ReadObjectIdentifier(std::string_view text);

// One piece of an attribute text. A piece without "=" is still reported (isField false,
// empty name and value), because link pairing looks at every piece.
struct AttributeField {
  std::string_view name;  // cut at "#": parent_class#1 is parent_class
  std::string_view value;
  bool isField = false;
};

// Visits every piece closed by "|", in order; a trailing piece without "|" is dropped.
void ForEachField(std::string_view text, const std::function<void(const AttributeField&)>& visit);

// The severity name of a severity field, read as atoi reads it (unreadable text is 0):
// 0 "Normal", 2 "Warning" ... 9 "Future"; 1 and every other value "Unknown".
const char* SeverityName(std::string_view value);

}  // namespace quillon
