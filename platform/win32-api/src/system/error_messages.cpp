// The system message table behind FormatMessageA, and the text helpers for trace lines.
#include <cstdlib>
#include <cstring>
#include <string>

#include "win32_result.h"
#include <auralink/platform/error_text.h>

namespace {

struct Message {
  DWORD code;
  const char* text;
};

// Win32 codes of winerror.h and the HRESULTs the COM layer answers, with the texts the
// system gives them.
constexpr Message kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_BUFFER_OVERFLOW, "The file name is too long."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_BUSY, "The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application."},
    {ERROR_ENVVAR_NOT_FOUND, "The system could not find the environment option that was entered."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_MORE_DATA, "More data is available."},
    {WAIT_TIMEOUT_ERROR, "The wait operation timed out."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {ERROR_NOACCESS, "Invalid access to memory location."},
    {ERROR_BADDB, "The configuration registry database is corrupt."},
    {ERROR_BADKEY, "The configuration registry key is invalid."},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened."},
    {ERROR_CANTREAD, "The configuration registry key could not be read."},
    {ERROR_CANTWRITE, "The configuration registry key could not be written."},
    {ERROR_REGISTRY_CORRUPT,
     "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
     "the system's memory image of the file is corrupted, or the file could not be recovered because the "
     "alternate copy or log was absent or corrupted."},
    {ERROR_REGISTRY_IO_FAILED,
     "An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or "
     "write out, or flush, one of the files that contain the system's image of the registry."},
    {ERROR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_KEY_HAS_CHILDREN, "Cannot create a symbolic link in a registry key that already has subkeys or values."},
    {ERROR_DLL_INIT_FAILED, "A dynamic link library (DLL) initialization routine failed."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
    {static_cast<DWORD>(E_NOTIMPL), "Not implemented"},
    {static_cast<DWORD>(E_NOINTERFACE), "No such interface supported"},
    {static_cast<DWORD>(E_POINTER), "Invalid pointer"},
    {static_cast<DWORD>(E_ABORT), "Operation aborted"},
    {static_cast<DWORD>(E_FAIL), "Unspecified error"},
    {static_cast<DWORD>(E_UNEXPECTED), "Catastrophic failure"},
    {static_cast<DWORD>(CLASS_E_NOAGGREGATION), "Class does not support aggregation (or class object is remote)"},
    {static_cast<DWORD>(CLASS_E_CLASSNOTAVAILABLE), "ClassFactory cannot supply requested class"},
    {static_cast<DWORD>(REGDB_E_CLASSNOTREG), "Class not registered"},
    {static_cast<DWORD>(REGDB_E_IIDNOTREG), "Interface not registered"},
    {static_cast<DWORD>(CO_E_NOTINITIALIZED), "CoInitialize has not been called."},
    {static_cast<DWORD>(CO_E_CLASSSTRING), "Invalid class string"},
    {static_cast<DWORD>(CO_E_DLLNOTFOUND), "DLL for class not found"},
    {static_cast<DWORD>(CO_E_ERRORINDLL), "Error in the DLL"},
    {static_cast<DWORD>(RPC_E_CHANGED_MODE), "Cannot change thread mode after it is set."},
    {static_cast<DWORD>(DISP_E_UNKNOWNINTERFACE), "Unknown interface."},
    {static_cast<DWORD>(DISP_E_MEMBERNOTFOUND), "Member not found."},
    {static_cast<DWORD>(DISP_E_PARAMNOTFOUND), "Parameter not found."},
    {static_cast<DWORD>(DISP_E_TYPEMISMATCH), "Type mismatch."},
    {static_cast<DWORD>(DISP_E_UNKNOWNNAME), "Unknown name."},
    {static_cast<DWORD>(DISP_E_BADVARTYPE), "Bad variable type."},
    {static_cast<DWORD>(DISP_E_EXCEPTION), "Exception occurred."},
    {static_cast<DWORD>(DISP_E_OVERFLOW), "Out of present range."},
    {static_cast<DWORD>(DISP_E_BADINDEX), "Invalid index."},
    {static_cast<DWORD>(DISP_E_ARRAYISLOCKED), "Memory is locked."},
    {static_cast<DWORD>(DISP_E_BADPARAMCOUNT), "Invalid number of parameters."},
    {static_cast<DWORD>(DISP_E_PARAMNOTOPTIONAL), "Parameter not optional."},
    {static_cast<DWORD>(TYPE_E_ELEMENTNOTFOUND), "Element not found."},
    {static_cast<DWORD>(TYPE_E_LIBNOTREGISTERED), "Library not registered."},
};

const char* FindMessage(DWORD code) {
  for (const auto& message : kMessages)
    if (message.code == code) return message.text;
  // An HRESULT that wraps a Win32 code reads as that code.
  if ((code & 0xFFFF0000u) == 0x80070000u) return FindMessage(code & 0xFFFFu);
  return nullptr;
}

}  // namespace

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* memory = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1) : std::malloc(uBytes ? uBytes : 1);
  if (!memory) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return memory;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD /*dwLanguageId*/,
                            LPSTR lpBuffer, DWORD nSize, va_list* /*Arguments*/) {
  std::string text;
  if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
    if (!lpSource) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    text = static_cast<const char*>(lpSource);
  } else if (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) {
    const char* found = FindMessage(dwMessageId);
    if (!found) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
    text = found;
    text += "\r\n";
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // A maximum width of 0xFF means: no line breaks of the message's own.
  if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  }

  if (!lpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    SIZE_T bytes = text.size() + 1 > nSize ? text.size() + 1 : nSize;
    auto* allocated = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
    if (!allocated) return 0;
    std::memcpy(allocated, text.c_str(), text.size() + 1);
    *reinterpret_cast<char**>(lpBuffer) = allocated;
    return static_cast<DWORD>(text.size());
  }
  if (text.size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

namespace auralink::platform {

std::string ErrorMessageText(DWORD code) {
  const char* found = FindMessage(code);
  return found ? found : "Unknown error";
}

std::string LastErrorText() {
  DWORD code = GetLastError();
  return std::to_string(code) + ": " + ErrorMessageText(code);
}

}  // namespace auralink::platform
