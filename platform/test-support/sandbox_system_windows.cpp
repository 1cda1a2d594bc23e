#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "sandbox_system.h"

namespace auralink::testing {

namespace {

constexpr const char* kSandboxKeys = "Software\\Auralink test sandboxes\\";

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

template <typename T>
bool ReadFrom(HANDLE process, const void* address, T* into, size_t size = sizeof(T)) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, address, into, size, &read) && read == size;
}

// The command line of another process, read from its process parameters (the system
// offers no direct query for it on older versions, Wine's included).
bool CommandLineOf(DWORD processId, std::wstring& commandLine) {
  Handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process.get()) return false;
  PROCESS_BASIC_INFORMATION basic{};
  if (NtQueryInformationProcess(process.get(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
    return false;
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  if (!basic.PebBaseAddress || !ReadFrom(process.get(), basic.PebBaseAddress, &peb) ||
      !ReadFrom(process.get(), peb.ProcessParameters, &parameters))
    return false;
  commandLine.assign(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
  return commandLine.empty() ||
         ReadFrom(process.get(), parameters.CommandLine.Buffer, commandLine.data(), parameters.CommandLine.Length);
}

std::string Narrow(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr,
                        nullptr);
  return narrow;
}

// Points `predefined` at a new key below `sandbox` for this process.
void Redirect(HKEY predefined, const std::string& sandbox, const char* name) {
  HKEY key = nullptr;
  const std::string path = sandbox + "\\" + name;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    throw std::runtime_error("cannot create the sandbox key " + path);
  const LSTATUS overridden = RegOverridePredefKey(predefined, key);
  RegCloseKey(key);  // the override keeps its own reference
  if (overridden != ERROR_SUCCESS) throw std::runtime_error("cannot redirect the registry to " + path);
}

}  // namespace

std::string MakeTemporaryFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "auralink-test-%08x", static_cast<unsigned>(random()));
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) return folder.generic_string();
  }
  throw std::runtime_error("cannot create a temporary folder");
}

void SetProcessVariable(const char* name, const char* value) {
  // The C runtime's copy for getenv, the process's for GetEnvironmentVariable and children.
  _putenv_s(name, value ? value : "");
  SetEnvironmentVariableA(name, value);
}

bool AnyProcessCommandLineHolds(const std::string& text) {
  Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::wstring commandLine;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (CommandLineOf(entry.th32ProcessID, commandLine) && Narrow(commandLine).find(text) != std::string::npos)
      return true;
  }
  return false;
}

RegistryRedirect::RegistryRedirect(const std::string& sandboxName) : keyPath_(kSandboxKeys + sandboxName) {
  Redirect(HKEY_LOCAL_MACHINE, keyPath_, "HKLM");
  Redirect(HKEY_CURRENT_USER, keyPath_, "HKCU");
}

RegistryRedirect::~RegistryRedirect() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegDeleteTreeA(HKEY_CURRENT_USER, keyPath_.c_str());
}

}  // namespace auralink::testing
