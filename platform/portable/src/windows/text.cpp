// Narrow and wide text on Windows: the narrow side is the ANSI code page.
#include <auralink/platform/text.h>

namespace auralink::platform {

std::wstring ToWide(std::string_view narrow) {
  if (narrow.empty()) return std::wstring();
  const int length = static_cast<int>(narrow.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, narrow.data(), length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
  if (needed > 0) MultiByteToWideChar(CP_ACP, 0, narrow.data(), length, wide.data(), needed);
  return wide;
}

std::string ToNarrow(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int length = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), length, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

std::string ToNarrow(const wchar_t* maybeNull) { return maybeNull ? ToNarrow(std::wstring_view(maybeNull)) : ""; }

BSTR AllocBstr(std::string_view narrow) {
  const std::wstring wide = ToWide(narrow);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string BstrToNarrow(BSTR bstr) { return bstr ? ToNarrow(std::wstring_view(bstr, SysStringLen(bstr))) : ""; }

}  // namespace auralink::platform
