// The configuration repository: reads and writes the configuration tree in the registry.
// Key paths are full paths relative to HKEY_LOCAL_MACHINE (see config_keys.h). Results
// are nonzero on success.
//
// Several threads may call at once. Each thread has its own subkey and value enumeration,
// so a polling thread's enumeration is never disturbed by another thread's.
#pragma once
#include <windows.h>
#include <windef.h>

class CConfRepositoryManager {
 public:
  static CConfRepositoryManager* GetInstance();

  // Reads a string value (REG_SZ) into `value`. `*size` is the buffer size in bytes on
  // entry (260 by convention) and the bytes stored, terminating zero included, on return.
  // Returns 0, leaving `value` untouched, when the key or value is absent, is not a string,
  // or does not fit (then `*size` holds the size needed). `type` may be null; otherwise it
  // receives the registry type of the value.
  int ReadStr(const char* keyPath, const char* name, DWORD* type, char* value, DWORD* size);
  // Reads a number (REG_DWORD). `size` may be null; when given it must allow 4 bytes and
  // receives 4. Returns 0, leaving `value` untouched, when absent or not a number.
  int ReadNum(const char* keyPath, const char* name, DWORD* type, DWORD* value, DWORD* size);
  int ReadNum(const char* keyPath, const char* name, DWORD* type, LONG* value, DWORD* size) {
    return ReadNum(keyPath, name, type, reinterpret_cast<DWORD*>(value), size);
  }

  // Write a REG_SZ or REG_DWORD value, creating the key path as needed.
  int SetStr(const char* keyPath, const char* name, const char* value);
  int SetNum(const char* keyPath, const char* name, DWORD value);

  // Subkey names of a key, one per EnumerateSubSet call (0 after the last). The names are
  // taken when the enumeration starts. Initialize returns 0 when the key cannot be opened;
  // the enumeration is then empty. `name` holds `size` bytes (260 by convention).
  int InitializeSubSetEnumeration(const char* keyPath);
  int EnumerateSubSet(char* name, DWORD size = MAX_PATH);
  int TerminateSubSetEnumeration();
  // Nesting: Preserve puts the running subkey enumeration of `keyPath` aside so that the
  // thread can run another one; Restore ends whichever runs and resumes the preserved one
  // where it stopped. Returns 0 when no enumeration of `keyPath` runs (Preserve) or was put
  // aside (Restore).
  int PreserveSubSetEnumeration(const char* keyPath);
  int RestoreSubSetEnumeration(const char* keyPath);

  // Values of a key, one per EnumerateParameter call: the value's name into `first`, its
  // data as text into `second` (numbers in decimal), each buffer `size` bytes. 0 after the
  // last value.
  int InitializeParameterEnumeration(const char* keyPath);
  int EnumerateParameter(char* first, char* second, DWORD size = MAX_PATH);
  int TerminateParameterEnumeration();

  CConfRepositoryManager(const CConfRepositoryManager&) = delete;
  CConfRepositoryManager& operator=(const CConfRepositoryManager&) = delete;

 private:
  CConfRepositoryManager() = default;
  ~CConfRepositoryManager() = default;
};
