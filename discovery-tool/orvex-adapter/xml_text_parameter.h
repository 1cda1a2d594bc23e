// The XML text of one adapter call, kept in a buffer of its own for the length of the
// call, already in the UTF-16 that a Java string holds: the stream arrives as wide text
// (a BSTR) and is converted this once on its way to Java.
#pragma once
#include <string>
#include <string_view>

#include "jni_support.h"

class XmlTextParameter {
 public:
  // Wide text, as the processing class returns it.
  explicit XmlTextParameter(std::wstring_view text) : hasText_(true) { auralink::orvex::AppendUtf16(units_, text); }
  // UTF-8 text; a null text makes a parameter without text.
  explicit XmlTextParameter(const char* text) : hasText_(text != nullptr) {
    if (text) auralink::orvex::AppendUtf16(units_, text);
  }

  bool HasText() const { return hasText_; }
  // The text's UTF-16 units.
  const std::u16string& Units() const { return units_; }

 private:
  bool hasText_;
  std::u16string units_;
};
