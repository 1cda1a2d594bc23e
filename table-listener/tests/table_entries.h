// Table entries written into a test's own registry file, as an agent's registration or an
// administrator would write them.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace dunmere::testing {

// The key of table entry `table` of `agent`.
std::string TableKey(const std::string& agent, const std::string& table);
// Writes string values into `key` (relative to the agent's table entry when it does not
// start with "SOFTWARE").
void WriteValues(const std::string& key, const std::vector<std::pair<std::string, std::string>>& values);
// The instance agent's default entry "ManagedObjects", with its data source and poll
// interval replaced.
void WriteManagedObjectsEntry(const std::string& agent, const std::string& dataSource, const std::string& refreshTime);

}  // namespace dunmere::testing
