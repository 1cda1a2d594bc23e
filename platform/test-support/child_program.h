// A program a test starts, waits for or ends at once as a crash would, through the
// platform's process functions (CreateProcess, WaitForSingleObject, TerminateProcess), so
// the same crash and kill tests run on Linux and on Windows.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace auralink::testing {

class ChildProgram {
 public:
  // The exit code of a program ended by Kill().
  static constexpr DWORD kKilled = 137;

  ChildProgram(const std::string& program, const std::vector<std::string>& arguments);
  ~ChildProgram();  // kills a program still running
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool Started() const { return process_ != nullptr; }
  // Ends the program at once, without any chance to clean up (SIGKILL, TerminateProcess).
  void Kill();
  // Waits until the program ends and gives its exit code (kKilled after Kill()), or -1
  // when it did not start or did not end within `milliseconds`.
  long long Wait(DWORD milliseconds = INFINITE);

 private:
  HANDLE process_ = nullptr;
};

}  // namespace auralink::testing
