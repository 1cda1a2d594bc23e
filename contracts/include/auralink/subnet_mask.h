// Subnet masks as the operator types them: a dotted quad such as 255.255.240.0.
#pragma once
#include <windows.h>
#include <windef.h>

#include <optional>
#include <string>
#include <string_view>

// Nonzero when text is a valid subnet mask: exactly four decimal fields of one to three
// digits, each 0-255, joined by single dots, nothing before or after, and the 32 bits one
// run of ones (at least one) followed by zeros. A null text is refused.
int IsValidSubnetMask(const char* text);

namespace auralink::model {
// The mask as a 32-bit number (first field in the top byte) when the text is valid.
std::optional<DWORD> ParseSubnetMask(std::string_view text);
// A dotted quad of four decimal fields 0-255 (the same lexical rules as a mask, any bits).
std::optional<DWORD> ParseDottedQuad(std::string_view text);
// The dotted-quad text of a 32-bit address or mask.
std::string FormatDottedQuad(DWORD value);
// The class A, B or C mask of an address by its first byte (255.255.255.0 above class B).
DWORD DefaultClassMask(DWORD address);
}  // namespace auralink::model
