// Shared between the parts of the COM runtime; not part of the platform's interface.
#pragma once
#include <string>

#include <objbase.h>
#include <windows.h>
#include <auralink/platform/error_text.h>

namespace auralink::platform::com {

// True when the calling thread may use COM: it called CoInitialize(Ex) itself, or some
// thread of the process keeps the multithreaded apartment open (which every thread then
// belongs to implicitly, as on Windows).
bool IsComUsableOnThisThread();

// The process's Global Interface Table (CLSID_StdGlobalInterfaceTable).
IGlobalInterfaceTable* TheGlobalInterfaceTable();

// The text behind LastComFailureText of the calling thread.
void SetComFailureText(std::string text);

// A default value of type REG_SZ or REG_EXPAND_SZ; false (and the registry's code in
// *error) when the key or value is missing or of another type.
bool ReadDefaultString(HKEY root, const std::string& path, std::string& value, LONG* error = nullptr);

}  // namespace auralink::platform::com
