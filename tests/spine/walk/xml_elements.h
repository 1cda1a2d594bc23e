// A tiny reader for the one-line XML streams the processing classes return: it accepts a
// document only when it is well-formed as far as those streams go (an optional
// declaration, one root element, matching tags, quoted attributes, "<" never and "&" only
// as a reference inside text or values) and lists its elements in document order with
// their attributes as written (references not decoded).
#pragma once
#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spine {

struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;

  std::string Attribute(const std::string& attribute) const {
    auto found = attributes.find(attribute);
    return found == attributes.end() ? "<absent>" : found->second;
  }
};

class XmlElements {
 public:
  // Every element of the document, the root first; nothing when it is not well-formed.
  static std::optional<std::vector<XmlElement>> Read(std::string_view document) {
    XmlElements reader(document);
    if (!reader.ReadDocument()) return std::nullopt;
    return std::move(reader.elements_);
  }

 private:
  explicit XmlElements(std::string_view text) : text_(text) {}

  bool ReadDocument() {
    if (text_.substr(0, 5) == "<?xml") {
      size_t end = text_.find("?>");
      if (end == std::string_view::npos) return false;
      at_ = end + 2;
    }
    SkipBlanks();
    if (!ReadElement()) return false;
    SkipBlanks();
    return at_ == text_.size();
  }

  bool ReadElement() {
    if (!Take('<')) return false;
    XmlElement element;
    if (!ReadName(element.name)) return false;
    for (;;) {
      const bool blank = SkipBlanks();
      if (Take('/')) {
        elements_.push_back(std::move(element));
        return Take('>');
      }
      if (Take('>')) break;
      std::string name, value;
      if (!blank || !ReadName(name) || !Take('=') || !ReadQuoted(value)) return false;
      if (!element.attributes.emplace(name, value).second) return false;
    }
    const std::string name = element.name;
    elements_.push_back(std::move(element));
    for (;;) {  // content: text and child elements up to the matching end tag
      if (at_ >= text_.size()) return false;
      if (text_.compare(at_, 2, "</") == 0) {
        at_ += 2;
        std::string closing;
        if (!ReadName(closing) || closing != name) return false;
        SkipBlanks();
        return Take('>');
      }
      if (text_[at_] == '<') {
        if (!ReadElement()) return false;
      } else if (!ReadCharacter()) {
        return false;
      }
    }
  }

  bool ReadQuoted(std::string& value) {
    if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) return false;
    const char quote = text_[at_++];
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] != quote) {
      if (text_[at_] == '<' || !ReadCharacter()) return false;
    }
    value.assign(text_.substr(start, at_ - start));
    return Take(quote);
  }

  // One character of text or one reference ("&amp;", "&#10;", "&#x2400;").
  bool ReadCharacter() {
    if (text_[at_] != '&') {
      ++at_;
      return true;
    }
    const size_t end = text_.find(';', at_);
    if (end == std::string_view::npos || end == at_ + 1) return false;
    std::string_view reference = text_.substr(at_ + 1, end - at_ - 1);
    at_ = end + 1;
    if (reference[0] != '#') {
      return reference == "amp" || reference == "lt" || reference == "gt" || reference == "quot" ||
             reference == "apos";
    }
    const bool hex = reference.size() > 1 && reference[1] == 'x';
    std::string_view digits = reference.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    for (char c : digits) {
      if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c)))) {
        return false;
      }
    }
    return true;
  }

  bool ReadName(std::string& name) {
    const size_t start = at_;
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_]);
      const bool first = at_ == start;
      if (!(std::isalpha(c) || c == '_' || c == ':' || (!first && (std::isdigit(c) || c == '-' || c == '.')))) break;
      ++at_;
    }
    name.assign(text_.substr(start, at_ - start));
    return !name.empty();
  }

  bool SkipBlanks() {
    const size_t start = at_;
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    return at_ > start;
  }

  bool Take(char c) {
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  std::string_view text_;
  size_t at_ = 0;
  std::vector<XmlElement> elements_;
};

}  // namespace spine
