// Generates a stand-in repository: a SQLite file with the framework's repository tables
// filled with a believable network topology. The same object count and seed give the
// same contents on every run.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace auralink::standins {

struct RepositoryRequest {
  uint64_t objects = 1000;
  uint64_t seed = 1;
};

// What went into the file.
struct RepositoryCounts {
  std::map<std::string, uint64_t> objectsByClass;
  std::map<int, uint64_t> objectsByParentCount;  // 0 to 3 parents
  uint64_t inclusions = 0;
  uint64_t missingStatus = 0;  // objects whose status_no has no row in tng_status
  uint64_t oddTexts = 0;       // names or labels with quotes, "=", "|" or non-ASCII letters
  uint64_t nullLabels = 0;
};

// Writes a new repository to `path`, replacing any file there. False, with `error` set,
// when the file cannot be written.
bool GenerateRepository(const std::string& path, const RepositoryRequest& request, RepositoryCounts& counts,
                        std::string& error);

// The schema that every generated repository has.
const char* RepositorySchema();

}  // namespace auralink::standins
