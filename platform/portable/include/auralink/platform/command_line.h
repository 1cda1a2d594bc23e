// Splitting one Windows command line into its words.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace auralink::platform {
// Splits a command line the way Windows programs receive it: blanks and tabs separate
// words; "..." groups; 2n backslashes before a quote give n backslashes and the quote
// toggles grouping, 2n+1 give n backslashes and a literal quote; other backslashes are
// literal; "" inside a group is a literal quote and the group goes on. The first word
// (the program) takes quotes only as grouping, so "C:\dir\" stays intact.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
}  // namespace auralink::platform
