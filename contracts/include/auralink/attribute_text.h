// Streams of "key=value|" pairs: the attribute texts of instances and events and the key
// and object streams of changed table rows. The format has no escaping, so a "|" inside a
// value would end its pair early and let the value forge pairs of its own (an
// "action=remove", say), or make two different keys one key stream. Each "|" inside a
// value is therefore written as kPipeStandIn; every other character is kept.
#pragma once
#include <string>
#include <string_view>

namespace auralink::model {

inline constexpr const char* kPipeStandIn = "\xC2\xA6";  // U+00A6 BROKEN BAR, in UTF-8

// Appends `value` with each "|" written as kPipeStandIn.
void AppendPairValue(std::string& stream, std::string_view value);
// Appends the pair "key=value|", the value as AppendPairValue writes it.
void AppendPair(std::string& stream, std::string_view key, std::string_view value);

}  // namespace auralink::model
