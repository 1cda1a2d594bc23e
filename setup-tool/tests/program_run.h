// Runs a built program as an operator would, in the test's environment (its registry
// file), with standard output and standard error captured apart.
#pragma once
#include <string>
#include <vector>

namespace zeltsetup_test {

struct ProgramRun {
  int exitCode = -1;  // -1 when the program did not end normally
  std::string out;
  std::string err;
};

// `fileSizeLimit` (bytes, when not negative) caps every file the program writes, which
// fails its writes past that size the way a full disk does, even for root.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      long long fileSizeLimit = -1);

}  // namespace zeltsetup_test
