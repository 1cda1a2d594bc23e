// What the parts of zeltsetup share: the trace component, the exit statuses and the
// lower-casing applied to the mode word and to the values that are compared.
#pragma once
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace zeltsetup {

inline constexpr const char* kTraceComponent = "zelsetup";

// 0 only when the options were processed to the end; every other way out (usage text,
// summary, a rejected value, a setting that could not be saved) answers 1.
inline constexpr int kExitProcessed = 0;
inline constexpr int kExitStopped = 1;

inline std::string LowerCase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

}  // namespace zeltsetup
