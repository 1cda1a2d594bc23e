// The one exception of the Java adapter bridge: a Java call that raised, a Java VM that
// cannot start, or a Java class or method that was never bound. It carries the text that
// the adapter's trace lines show.
#pragma once
#include <exception>
#include <string>

class AdapterException : public std::exception {
 public:
  explicit AdapterException(std::string message) : message_(std::move(message)) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};
