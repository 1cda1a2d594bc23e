// Failures of the registry file (unparsable, unreadable, unwritable) as text for the
// caller, in the manner of GetLastError: per thread, kept until the next such failure.
#pragma once
#include <string>

namespace auralink::platform::registry {

void SetLastErrorText(std::string text);
// Sets the text and writes it to stderr, unless it is the text written there last.
void ReportError(std::string text);

}  // namespace auralink::platform::registry
