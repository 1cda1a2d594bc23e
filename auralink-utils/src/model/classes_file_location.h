// Where an agent's supported-classes file lies: the configuration names it, and a relative
// name is taken from the folder of the agent's trace log.
#pragma once
#include <string>

namespace auralink::model {

// Resolves fileName against the folder of logFileName when it is relative. Either "\" or
// "/" separates folders; a name starting with one of them or with a drive ("C:") is
// absolute. Without a folder in logFileName the name stays as it is.
std::string ResolveClassesFile(const std::string& fileName, const std::string& logFileName);

// The path to open on this machine: every "\" becomes "/", which Windows accepts too.
std::string NativePath(const std::string& path);

}  // namespace auralink::model
