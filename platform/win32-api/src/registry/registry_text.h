// The registry file's text: the registry-export format, in UTF-8.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Kestrova]
//   @="default value"
//   "Name"="text with \\ and \" escaped"
//   "Count"=dword:0000003c
//   "Blob"=hex:01,02,ff
//   "Other"=hex(2):25,54,4d,50,25,00
//
// Strings that the quoted form cannot carry (line breaks, inner zeros) and types other
// than REG_SZ, REG_DWORD and REG_BINARY use hex(N) with the stored bytes.
#pragma once
#include <string>
#include <string_view>

#include "registry_tree.h"

namespace auralink::platform::registry {

inline constexpr std::string_view kRegistryHeader = "Windows Registry Editor Version 5.00";

struct ParseError {
  size_t line = 0;
  std::string reason;
};

// Reads the text into `tree` (which must be empty). Empty text is an empty registry.
// False, with the first offending line and the reason, when the text is not in the format.
bool ParseRegistryText(std::string_view text, Tree& tree, ParseError& error);

std::string FormatRegistryText(const Tree& tree);

// The text of one key and everything below it, the key named by its full path
// ("HKEY_LOCAL_MACHINE\SOFTWARE\..."): what an export of that key writes. The key gets its
// own section even without values.
std::string FormatRegistryExport(const Key& key, const std::string& path);

}  // namespace auralink::platform::registry
