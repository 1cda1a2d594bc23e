// An attribute text ("name=value|...") read as the instance agent's processing class reads
// it: fields cut at "#", parents paired as they come (a parent_class, then its parent_uuid).
#pragma once
#include <map>
#include <set>
#include <string>
#include <utility>

namespace auralink::testing {

struct AttributeFields {
  std::map<std::string, std::string> plain;
  std::multiset<std::pair<std::string, std::string>> parents;  // (class, identifier)
  bool operator==(const AttributeFields&) const = default;
};

inline AttributeFields ParseAttributeText(const std::string& text) {
  AttributeFields fields;
  std::string parentClass;
  for (size_t start = 0, end; (end = text.find('|', start)) != std::string::npos; start = end + 1) {
    std::string field = text.substr(start, end - start);
    size_t equals = field.find('=');
    if (equals == std::string::npos) continue;
    std::string name = field.substr(0, std::min(equals, field.find('#'))), value = field.substr(equals + 1);
    if (name == "parent_class")
      parentClass = value;
    else if (name == "parent_uuid")
      fields.parents.emplace(parentClass, value);
    else
      fields.plain[name] = value;
  }
  return fields;
}

}  // namespace auralink::testing
