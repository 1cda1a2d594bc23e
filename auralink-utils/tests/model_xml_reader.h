// A small, strict XML 1.0 reader for the tests: it accepts a document only when it is
// well-formed (UTF-8, legal characters, matching tags, unique attributes, valid
// references) and gives back its elements with their decoded texts.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace model_test {

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<XmlElement> children;
  std::string text;  // character data directly inside the element

  const std::string* Attribute(std::string_view attributeName) const {
    for (const auto& [n, v] : attributes)
      if (n == attributeName) return &v;
    return nullptr;
  }
};

class XmlReader {
 public:
  // The root element of a well-formed document, or nothing (with the reason in Error()).
  std::optional<XmlElement> Read(std::string_view document) {
    text_ = document;
    pos_ = 0;
    error_.clear();
    if (!CheckCharacters()) return std::nullopt;
    if (text_.substr(0, 5) == "<?xml") {
      const std::size_t end = text_.find("?>");
      if (end == std::string_view::npos) return Fail("unclosed declaration");
      pos_ = end + 2;
    }
    SkipBlanks();
    XmlElement root;
    if (!ReadElement(root)) return std::nullopt;
    SkipBlanks();
    if (pos_ != text_.size()) return Fail("text after the root element");
    return root;
  }
  const std::string& Error() const { return error_; }

 private:
  static bool IsXmlChar(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
  }
  static void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6)), out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12)), out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18)), out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F)), out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  // The whole document must be well-formed UTF-8 made of XML characters.
  bool CheckCharacters() {
    for (std::size_t i = 0; i < text_.size();) {
      const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text_[k]); };
      std::uint32_t c = b(i);
      std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
      if (n == 0 || i + n > text_.size()) return Fail("not UTF-8"), false;
      if (n > 1) c &= 0x3F >> (n - 1);
      for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return Fail("not UTF-8"), false;
        c = (c << 6) | (b(i + k) & 0x3F);
      }
      const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
      if (c < minimum[n] || !IsXmlChar(c)) return Fail("not an XML character"), false;
      i += n;
    }
    return true;
  }
  std::nullopt_t Fail(std::string why) {
    if (error_.empty()) error_ = why + " at " + std::to_string(pos_);
    return std::nullopt;
  }
  void SkipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r'))
      ++pos_;
  }
  static bool IsNameChar(char c, bool first) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
    return letter || (!first && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
  }
  bool ReadName(std::string& name) {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_], pos_ == start)) ++pos_;
    name = text_.substr(start, pos_ - start);
    return !name.empty() || (Fail("name expected"), false);
  }
  // A reference after '&', appended decoded.
  bool ReadReference(std::string& out) {
    const std::size_t end = text_.find(';', pos_);
    if (end == std::string_view::npos) return Fail("unterminated reference"), false;
    const std::string_view ref = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (ref == "amp") return out += '&', true;
    if (ref == "lt") return out += '<', true;
    if (ref == "gt") return out += '>', true;
    if (ref == "quot") return out += '"', true;
    if (ref == "apos") return out += '\'', true;
    if (ref.size() < 2 || ref[0] != '#') return Fail("unknown entity"), false;
    const bool hex = ref[1] == 'x';
    const std::string_view digits = ref.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return Fail("bad character reference"), false;
    std::uint32_t c = 0;
    for (char d : digits) {
      int v = d >= '0' && d <= '9' ? d - '0' : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10 : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10 : -1;
      if (v < 0) return Fail("bad character reference"), false;
      c = c * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
    }
    if (!IsXmlChar(c)) return Fail("reference to a non-character"), false;
    AppendUtf8(out, c);
    return true;
  }
  bool ReadElement(XmlElement& element) {
    if (pos_ >= text_.size() || text_[pos_] != '<') return Fail("element expected"), false;
    ++pos_;
    if (!ReadName(element.name)) return false;
    while (true) {
      const std::size_t before = pos_;
      SkipBlanks();
      if (text_.substr(pos_, 2) == "/>") return pos_ += 2, true;
      if (pos_ < text_.size() && text_[pos_] == '>') break;
      if (pos_ == before) return Fail("blank expected before an attribute"), false;
      std::string name, value;
      if (!ReadName(name)) return false;
      SkipBlanks();
      if (pos_ >= text_.size() || text_[pos_] != '=') return Fail("= expected"), false;
      ++pos_;
      SkipBlanks();
      const char quote = pos_ < text_.size() ? text_[pos_] : '\0';
      if (quote != '"' && quote != '\'') return Fail("quoted value expected"), false;
      ++pos_;
      while (pos_ < text_.size() && text_[pos_] != quote) {
        const char c = text_[pos_++];
        if (c == '<') return Fail("< in an attribute value"), false;
        if (c == '&') {
          if (!ReadReference(value)) return false;
        } else {
          value += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;  // attribute-value normalisation
        }
      }
      if (pos_ >= text_.size()) return Fail("unclosed attribute value"), false;
      ++pos_;
      if (element.Attribute(name)) return Fail("repeated attribute " + name), false;
      element.attributes.emplace_back(std::move(name), std::move(value));
    }
    ++pos_;  // '>'
    while (true) {
      if (pos_ >= text_.size()) return Fail("unclosed element " + element.name), false;
      const char c = text_[pos_];
      if (text_.substr(pos_, 2) == "</") {
        pos_ += 2;
        std::string name;
        if (!ReadName(name)) return false;
        SkipBlanks();
        if (name != element.name || pos_ >= text_.size() || text_[pos_] != '>')
          return Fail("end tag does not match " + element.name), false;
        ++pos_;
        return true;
      }
      if (c == '<') {
        element.children.emplace_back();
        if (!ReadElement(element.children.back())) return false;
      } else if (c == '&') {
        ++pos_;
        if (!ReadReference(element.text)) return false;
      } else {
        if (text_.substr(pos_, 3) == "]]>") return Fail("]]> in character data"), false;
        element.text += c;
        ++pos_;
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace model_test
