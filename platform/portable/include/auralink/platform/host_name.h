// The local host's official name.
#pragma once
#include <string>

namespace auralink::platform {
// The canonical name of the local host (getaddrinfo with AI_CANONNAME), or the plain host
// name when it cannot be resolved.
std::string LocalHostOfficialName();
}  // namespace auralink::platform
