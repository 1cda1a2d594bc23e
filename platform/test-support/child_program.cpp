#include "child_program.h"

namespace auralink::testing {

namespace {

// One word of a Windows command line as the program's argument parser gives it back:
// quoted when it holds blanks or quotes, with the backslashes before a quote doubled.
std::string CommandLineWord(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

}  // namespace

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::string commandLine = CommandLineWord(program);
  for (const std::string& argument : arguments) commandLine += " " + CommandLineWord(argument);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started))
    return;
  CloseHandle(started.hThread);
  process_ = started.hProcess;
}

ChildProgram::~ChildProgram() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) Kill();
  WaitForSingleObject(process_, INFINITE);
  CloseHandle(process_);
}

void ChildProgram::Kill() {
  if (process_) TerminateProcess(process_, kKilled);
}

long long ChildProgram::Wait(DWORD milliseconds) {
  DWORD code = 0;
  if (!process_ || WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process_, &code))
    return -1;
  return code;
}

}  // namespace auralink::testing
