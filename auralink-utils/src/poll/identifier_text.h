// Identifiers kept as 16 bytes, shown in their uniqueidentifier text form.
#pragma once
#include <string>

namespace auralink::poll {

// 32 hexadecimal digits (16 bytes b0..b15, as a binary value reads) become
// "b3b2b1b0-b5b4-b7b6-b8b9-b10b11b12b13b14b15" in upper case: the first three groups are
// little-endian numbers, as a GUID is laid out in memory. False, with `value` untouched,
// for anything else.
bool HexToIdentifierText(std::string& value);

}  // namespace auralink::poll
