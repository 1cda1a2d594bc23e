// Key and value names: compared without regard to case, stored in the case first written.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace auralink::platform::registry {

// Windows' limits, in bytes of the narrow name: a deeper or longer name could not be
// opened by programs written for Windows, and unbounded depth makes the file grow with
// the square of the depth (every key line holds its whole path).
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxKeyDepth = 512;  // key names below a hive

// The form in which names are compared and sorted: upper case (ASCII, and Unicode simple
// upper case for UTF-8 text); bytes that are not valid UTF-8 stay as they are.
std::string FoldName(std::string_view name);

// A name as written and in its folded form.
struct Name {
  std::string text;
  std::string folded;
};

inline Name MakeName(std::string_view text) { return Name{std::string(text), FoldName(text)}; }

// Why a name cannot be stored, or null when it can. Key names: 1 to 255 bytes, no "\"
// (the path separator). Value names: up to 16383 bytes. Neither holds a line break (the
// file keeps one entry per line) or a zero byte (a C string would end there, so the name
// could never be asked for).
const char* KeyNameFault(std::string_view name);
const char* ValueNameFault(std::string_view name);

// Splits "A\B\C" into checked key names and appends them to `parts`; one trailing "\" is
// tolerated. Answers why the path cannot be stored (an invalid name, or `parts` would
// grow deeper than kMaxKeyDepth), leaving `parts` unchanged, or null on success.
const char* AppendKeyPath(std::string_view path, std::vector<Name>& parts);

}  // namespace auralink::platform::registry
