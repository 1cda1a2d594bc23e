#include "registry_error.h"

#include <winreg.h>

#include <cstdio>
#include <mutex>
#include <auralink/platform/error_text.h>

namespace auralink::platform::registry {

namespace {
thread_local std::string lastErrorText;
}  // namespace

void SetLastErrorText(std::string text) { lastErrorText = std::move(text); }

void ReportError(std::string text) {
  static std::mutex mutex;
  static std::string lastPrinted;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (text != lastPrinted) {
      std::fprintf(stderr, "auralink: %s\n", text.c_str());
      lastPrinted = text;
    }
  }
  SetLastErrorText(std::move(text));
}

}  // namespace auralink::platform::registry

namespace auralink::platform {
const char* LastRegistryErrorText() { return registry::lastErrorText.c_str(); }
}  // namespace auralink::platform
