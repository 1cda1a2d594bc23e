// Failure texts on Windows: the system's own messages.
#include <auralink/platform/error_text.h>

namespace auralink::platform {

std::string ErrorMessageText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0,
                     nullptr);
  std::string text = length && buffer ? std::string(buffer, length) : "Unknown error";
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string LastErrorText() {
  const DWORD code = GetLastError();
  return std::to_string(code) + ": " + ErrorMessageText(code);
}

// The loader sets the last error; its text is the system's message for it.
std::string LastLoaderErrorText() { return ErrorMessageText(GetLastError()); }

const char* LastComFailureText() { return ""; }

const char* LastRegistryErrorText() { return ""; }

std::string RegistryFilePath() { return "the Windows registry"; }

}  // namespace auralink::platform
