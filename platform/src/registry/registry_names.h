// Key and value names: compared without regard to case, stored in the case first written.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace auralink::platform::registry {

inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;

// The form in which names are compared and sorted: upper case (ASCII, and Unicode simple
// upper case for UTF-8 text); bytes that are not valid UTF-8 stay as they are.
std::string FoldName(std::string_view name);

// A name as written and in its folded form.
struct Name {
  std::string text;
  std::string folded;
};

inline Name MakeName(std::string_view text) { return Name{std::string(text), FoldName(text)}; }

// Key names: 1 to 255 bytes, no "\" (the path separator) and no line breaks (the file
// keeps one entry per line). Value names: up to 16383 bytes, no line breaks.
bool IsValidKeyName(std::string_view name);
bool IsValidValueName(std::string_view name);

// Splits "A\B\C" into checked key names and appends them to `parts`; one trailing "\" is
// tolerated. False (and `parts` unchanged) on an empty or invalid component.
bool AppendKeyPath(std::string_view path, std::vector<Name>& parts);

}  // namespace auralink::platform::registry
