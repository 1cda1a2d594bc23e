// Narrow text (the ANSI code page: UTF-8 on Linux) to wide text and BSTRs and back, the
// conversion every COM crossing makes.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace auralink::platform {
// Ill-formed input becomes U+FFFD (the default character when narrowing on Windows).
std::wstring ToWide(std::string_view narrow);
std::string ToNarrow(std::wstring_view wide);
std::string ToNarrow(const wchar_t* maybeNull);  // null gives ""
// A new BSTR holding the converted text (the caller frees it); null only when out of memory.
BSTR AllocBstr(std::string_view narrow);
// The whole BSTR (embedded zeros included) as narrow text; null gives "".
std::string BstrToNarrow(BSTR bstr);
}  // namespace auralink::platform
