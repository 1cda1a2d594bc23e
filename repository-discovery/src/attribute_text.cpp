#include "attribute_text.h"

#include <cerrno>
#include <cstdlib>
#include <iterator>

namespace quillon {

namespace {

constexpr const char* kDefaultKey = "uuid";

// Indexed by value; 1 has no name of its own.
constexpr const char* kSeverityNames[] = {"Normal", "Unknown", "Warning",   "Minor",  "Major",
                                          "Critical", "Down",  "Inservice", "Remove", "Future"};
constexpr const char* kUnknownSeverity = "Unknown";

}  // namespace

ObjectIdentifier ReadObjectIdentifier(std::string_view text) {
  if (text.empty()) return {};
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {kDefaultKey, std::string(text)};
  std::string_view rest = text.substr(equals + 1);
  if (!rest.empty()) rest.remove_suffix(1);  // the closing "|"
  return {std::string(text.substr(0, equals)), std::string(rest)};
}

void ForEachField(std::string_view text, const std::function<void(const AttributeField&)>& visit) {
  for (size_t end = text.find('|'); end != std::string_view::npos; end = text.find('|')) {
    const std::string_view piece = text.substr(0, end);
    text.remove_prefix(end + 1);
    AttributeField field;
    const size_t equals = piece.find('=');
    if (equals != std::string_view::npos) {
      field.isField = true;
      field.name = piece.substr(0, equals);
      field.name = field.name.substr(0, field.name.find('#'));
      field.value = piece.substr(equals + 1);
    }
    visit(field);
  }
}

const char* SeverityName(std::string_view value) {
  const std::string text(value);  // strtol needs the terminator
  errno = 0;
  const long number = std::strtol(text.c_str(), nullptr, 10);  // NOLINT: atoi's rule, with overflow seen
  if (errno == ERANGE || number < 0 || number >= static_cast<long>(std::size(kSeverityNames))) return kUnknownSeverity;
  return kSeverityNames[number];
}

}  // namespace quillon
