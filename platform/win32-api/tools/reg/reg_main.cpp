// auralink-reg: reads and changes the registry from the command line, with the operation
// words and switches an administrator of a Windows machine knows:
//
//   auralink-reg query  HKLM\SOFTWARE\Kestrova\Auralink /s
//   auralink-reg add    HKLM\SOFTWARE\Kestrova\Auralink /v TraceLevel /t REG_DWORD /d 1 /f
//   auralink-reg delete HKLM\SOFTWARE\Kestrova\Auralink /v MaxFileLogSize /f
//   auralink-reg export HKLM\SOFTWARE\Kestrova\Auralink settings.reg /y
//   auralink-reg import settings.reg
//
// Every change goes through the registry functions, so it is locked against other
// writers, replaces the file atomically and keeps the registry's limits.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "reg_arguments.h"
#include "reg_commands.h"

int main(int argc, char** argv) {
  using namespace auralink::reg;
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (!words.empty() && (words[0] == "-h" || words[0] == "--help")) {
    fputs(UsageText(std::nullopt), stdout);
    return 0;
  }
  Arguments arguments;
  std::string reason;
  if (!ParseArguments(words, arguments, reason)) {
    fprintf(stderr, "ERROR: %s\n", reason.c_str());
    fputs(UsageText(arguments.operation), stderr);
    return 1;
  }
  if (arguments.help) {
    fputs(UsageText(arguments.operation), stdout);
    return 0;
  }
  const int status = RunOperation(arguments);
  fflush(stdout);
  return status;
}
