// Value types and data as an administrator types and reads them: "REG_DWORD", "0x3c",
// "first\0second" for a multi-string, "01A2FF" for bytes.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace auralink::reg {

// The type for a name such as "REG_SZ" (any case); false for a name the tool cannot write.
bool TypeFromName(std::string_view name, DWORD& type);
// "REG_SZ", ..., or "REG_0x<hex>" for a type without a name.
std::string TypeName(DWORD type);

// The bytes to store for `text` given as data of `type`. A multi-string's entries are
// separated by `separator`, or by the two characters "\0" when it is empty. False with
// the reason when the text is no data of that type.
bool DataFromText(DWORD type, std::string_view text, std::string_view separator, std::vector<BYTE>& data,
                  std::string& reason);

// The stored bytes as one line: strings up to their first zero, numbers as 0x hex,
// multi-strings joined by "\0", everything else as hex digits.
std::string DataToText(DWORD type, const std::vector<BYTE>& data);

}  // namespace auralink::reg
