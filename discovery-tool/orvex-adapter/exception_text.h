// What an "Exception thrown: %s" trace line of the adapter shows for the exception being
// handled: an AdapterException's own text (the Java message, or why the VM or a binding
// failed); for any other exception the system's text for the thread's last error code
// and the code, "<text> (0x<code>)", or nothing when the system has no text for it.
#pragma once
#include <string>

namespace auralink::orvex {

// Call only inside a catch block.
std::string CurrentExceptionText();

// The last-error form alone.
std::string LastErrorExceptionText();

}  // namespace auralink::orvex
