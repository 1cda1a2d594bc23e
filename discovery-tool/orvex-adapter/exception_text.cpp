#include "exception_text.h"

#include <windows.h>

#include <cstdio>

#include "adapter_exception.h"

namespace auralink::orvex {

std::string LastErrorExceptionText() {
  const DWORD code = GetLastError();
  char text[260] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  if (length == 0 || length + 14 > sizeof text) return "";
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, " (0x%x)", static_cast<unsigned>(code));
  return message + suffix;
}

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const AdapterException& e) {
    return e.Message();
  } catch (...) {
    return LastErrorExceptionText();
  }
}

}  // namespace auralink::orvex
