// CreateProcessA and the process functions on its handles. Children are started with
// posix_spawn, which reports a failed exec as its own result, so a program that cannot
// be started makes CreateProcessA fail instead of producing a child that exits at once.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "win32_result.h"
#include <auralink/platform/command_line.h>

extern char** environ;

namespace auralink::platform::detail {
namespace {

class ProcessObject : public KernelObject {
 public:
  explicit ProcessObject(std::shared_ptr<ChildProcess> child) : child_(std::move(child)) {}
  DWORD Wait(DWORD milliseconds) override { return child_->Wait(milliseconds); }
  ChildProcess& Child() { return *child_; }

 private:
  std::shared_ptr<ChildProcess> child_;
};

// The child's primary thread: it ends, and reports its code, with the process.
class PrimaryThreadObject : public ThreadKernelObject {
 public:
  explicit PrimaryThreadObject(std::shared_ptr<ChildProcess> child) : child_(std::move(child)) {}
  DWORD Wait(DWORD milliseconds) override { return child_->Wait(milliseconds); }
  DWORD ExitCode() override { return child_->ExitCode(); }

 private:
  std::shared_ptr<ChildProcess> child_;
};

// Owns the posix_spawn helper objects for the length of one call.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// "NAME=value\0NAME=value\0\0" into the strings of an envp array.
std::vector<std::string> ParseEnvironmentBlock(const char* block) {
  std::vector<std::string> entries;
  for (const char* entry = block; *entry; entry += std::string_view(entry).size() + 1) entries.emplace_back(entry);
  return entries;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

bool IsDirectory(const char* path) {
  struct stat info{};
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

}  // namespace
}  // namespace auralink::platform::detail

using namespace auralink::platform::detail;

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL /*bInheritHandles*/, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA /*lpStartupInfo*/,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  if (!lpProcessInformation) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (dwCreationFlags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (lpEnvironment && (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lpCurrentDirectory && *lpCurrentDirectory && !IsDirectory(lpCurrentDirectory)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }

  std::vector<std::string> arguments = auralink::platform::SplitCommandLine(lpCommandLine ? lpCommandLine : "");
  const bool hasApplication = lpApplicationName && *lpApplicationName;
  std::string program = hasApplication ? lpApplicationName : (arguments.empty() ? "" : arguments.front());
  if (program.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (arguments.empty()) arguments.push_back(program);
  // A bare name is searched on the PATH; an application name or a path is taken as it
  // is, relative to the caller's directory even when the child starts elsewhere.
  const bool searchPath = !hasApplication && program.find('/') == std::string::npos;
  if (!searchPath) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(program, ec);
    if (!ec) program = absolute.string();
  }

  std::vector<std::string> environment;
  if (lpEnvironment) environment = ParseEnvironmentBlock(static_cast<const char*>(lpEnvironment));
  std::vector<char*> argv = PointersTo(arguments);
  std::vector<char*> envp = PointersTo(environment);

  SpawnSetup setup;
  if (lpCurrentDirectory && *lpCurrentDirectory)
    posix_spawn_file_actions_addchdir_np(&setup.actions_, lpCurrentDirectory);
  // The child starts with no blocked signals and default SIGPIPE/SIGCHLD handling,
  // whatever this process has set up for itself.
  sigset_t noSignals, defaults;
  sigemptyset(&noSignals);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigmask(&setup.attributes_, &noSignals);
  posix_spawnattr_setsigdefault(&setup.attributes_, &defaults);
  short spawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (dwCreationFlags & CREATE_NEW_PROCESS_GROUP) {
    spawnFlags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&setup.attributes_, 0);
  }
  posix_spawnattr_setflags(&setup.attributes_, spawnFlags);

  char** childEnvironment = lpEnvironment ? envp.data() : environ;
  pid_t pid = 0;
  int result = searchPath
                   ? posix_spawnp(&pid, program.c_str(), &setup.actions_, &setup.attributes_, argv.data(),
                                  childEnvironment)
                   : posix_spawn(&pid, program.c_str(), &setup.actions_, &setup.attributes_, argv.data(),
                                 childEnvironment);
  ReapOrphans();
  if (result != 0) {
    SetLastErrorFromErrno(result);
    return FALSE;
  }

  auto child = std::make_shared<ChildProcess>(pid, OpenPidFd(pid));
  lpProcessInformation->hProcess = RegisterHandle(std::make_shared<ProcessObject>(child));
  lpProcessInformation->hThread = RegisterHandle(std::make_shared<PrimaryThreadObject>(child));
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);  // a process's first thread has its id
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  auto process = LookupHandleAs<ProcessObject>(hProcess);
  if (!process) return FALSE;
  if (!lpExitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpExitCode = process->Child().ExitCode();
  return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  auto process = LookupHandleAs<ProcessObject>(hProcess);
  if (!process) return FALSE;
  return process->Child().Terminate(uExitCode);
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }
