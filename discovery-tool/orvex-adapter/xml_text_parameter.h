// The XML text of one adapter call, kept in a buffer of its own for the length of the call.
#pragma once
#include <cstring>
#include <vector>

class XmlTextParameter {
 public:
  // A null text makes a parameter without text.
  explicit XmlTextParameter(const char* text) {
    if (text) buffer_.assign(text, text + std::strlen(text) + 1);
  }

  // The text unchanged; null when the parameter has none.
  const char* Text() const { return buffer_.empty() ? nullptr : buffer_.data(); }

 private:
  std::vector<char> buffer_;
};
