// Reading one setting of the configuration tree the way the adapter does: with a size
// word of 260, keeping the caller's value when the setting is absent.
#pragma once
#include <windows.h>
#include <windef.h>

#include <string>

namespace auralink::orvex {

inline constexpr const char* kAdapterComponent = "OrvexAdapter";

// 1 and the value read; 0 with `value` untouched.
int ReadStringSetting(const char* keyPath, const char* name, std::string& value);
int ReadNumberSetting(const char* keyPath, const char* name, LONG& value);

}  // namespace auralink::orvex
