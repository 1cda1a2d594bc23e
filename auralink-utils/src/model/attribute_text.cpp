#include <auralink/attribute_text.h>

namespace auralink::model {

void AppendPairValue(std::string& stream, std::string_view value) {
  for (size_t from = 0;;) {
    const size_t pipe = value.find('|', from);
    stream += value.substr(from, pipe - from);
    if (pipe == std::string_view::npos) return;
    stream += kPipeStandIn;
    from = pipe + 1;
  }
}

void AppendPair(std::string& stream, std::string_view key, std::string_view value) {
  stream += key;
  stream += '=';
  AppendPairValue(stream, value);
  stream += '|';
}

}  // namespace auralink::model
