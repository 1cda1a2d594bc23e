#include "reg_commands.h"

#include <atlbase.h>
#include <unistd.h>
#include <windows.h>
#include <auralink/platform/error_text.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "reg_data.h"
#include "reg_key_name.h"
#include "registry_text.h"

namespace auralink::reg {

namespace {

namespace registry = auralink::platform::registry;

struct NamedValue {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

int Fail(const std::string& message) {
  fflush(stdout);
  fprintf(stderr, "ERROR: %s\n", message.c_str());
  return 1;
}

int Succeed() {
  printf("The operation completed successfully.\n");
  return 0;
}

// Why a call failed: for failures of the file itself the platform's reason, which names
// the file; the system text otherwise.
std::string Reason(LSTATUS status) {
  const bool fileFault = status == ERROR_REGISTRY_CORRUPT || status == ERROR_CANTREAD ||
                         status == ERROR_CANTWRITE || status == ERROR_ACCESS_DENIED;
  const char* fileReason = auralink::platform::LastRegistryErrorText();
  if (fileFault && fileReason && *fileReason) return fileReason;
  return auralink::platform::ErrorMessageText(static_cast<DWORD>(status));
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string ValueLabel(const std::string& name) { return name.empty() ? "(Default)" : name; }

// Asks on standard output; only "y" or "yes" (any case) on standard input agrees.
bool Confirm(const std::string& question) {
  printf("%s (Yes/No)? ", question.c_str());
  fflush(stdout);
  char answer[16] = {};
  if (!fgets(answer, sizeof answer, stdin)) {
    printf("\n");
    return false;
  }
  answer[strcspn(answer, "\r\n")] = '\0';
  return strcasecmp(answer, "y") == 0 || strcasecmp(answer, "yes") == 0;
}

int Cancelled() {
  printf("The operation was cancelled.\n");
  return 1;
}

LSTATUS OpenKey(const KeyName& key, REGSAM access, CRegKey& opened) {
  return opened.Open(key.root, key.path.c_str(), access);
}

int KeyFailure(const KeyName& key, LSTATUS status) {
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED)
    return Fail("the key " + key.Full() + " does not exist");
  return Fail(key.Full() + ": " + Reason(status));
}

// ERROR_SUCCESS when the key holds the value, ERROR_FILE_NOT_FOUND when not.
LSTATUS FindValue(HKEY key, const std::string& name) {
  return RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
}

LSTATUS ReadValues(HKEY key, std::vector<NamedValue>& values) {
  values.clear();
  for (DWORD index = 0;; ++index) {
    DWORD longestName = 0;
    DWORD largestData = 0;
    LSTATUS status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &longestName, &largestData, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    std::string name(longestName + 1, '\0');
    NamedValue value;
    value.data.resize(largestData);
    DWORD nameChars = longestName + 1;
    DWORD dataSize = largestData;
    status = RegEnumValueA(key, index, name.data(), &nameChars, nullptr, &value.type, value.data.data(), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status == ERROR_MORE_DATA) {  // changed by another process between the two calls
      --index;
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    name.resize(nameChars);
    value.name = std::move(name);
    value.data.resize(dataSize);
    values.push_back(std::move(value));
  }
}

LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::string>& names) {
  names.clear();
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD chars = sizeof name;
    LSTATUS status = RegEnumKeyExA(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    names.emplace_back(name, chars);
  }
}

void PrintValue(const NamedValue& value) {
  printf("    %s    %s    %s\n", ValueLabel(value.name).c_str(), TypeName(value.type).c_str(),
         DataToText(value.type, value.data).c_str());
}

// ---- query ----

class Query {
 public:
  explicit Query(const Arguments& arguments) : arguments_(arguments) {}

  int Run(const KeyName& name) {
    CRegKey key;
    if (LSTATUS status = OpenKey(name, KEY_READ, key); status != ERROR_SUCCESS) return KeyFailure(name, status);
    if (arguments_.recurse) {
      if (LSTATUS status = Walk(name, key); status != ERROR_SUCCESS) return Fail(failedKey_ + ": " + Reason(status));
      if (!arguments_.valueName) return 0;
      printf("End of search: %d match(es) found.\n", matches_);
      if (matches_ == 0) return Fail("no key below " + name.Full() + " has the value " + Quoted(*arguments_.valueName));
      return 0;
    }
    std::vector<NamedValue> values;
    std::vector<std::string> subkeys;
    LSTATUS status = ReadValues(key, values);
    if (status == ERROR_SUCCESS) status = ReadSubkeyNames(key, subkeys);
    if (status != ERROR_SUCCESS) return KeyFailure(name, status);
    if (!PrintKeyBlock(name, values))
      return Fail(name.Full() + " has no value " + Quoted(ValueLabel(*arguments_.valueName)));
    if (!arguments_.valueName)
      for (const std::string& subkey : subkeys) printf("%s\n", name.Child(subkey).Full().c_str());
    return 0;
  }

 private:
  // The key's name and its values, then a blank line; with /v only the value asked for
  // (found by its folded name, shown in the spelling it was stored in), and nothing at
  // all when the key lacks it: then false.
  bool PrintKeyBlock(const KeyName& name, const std::vector<NamedValue>& values) {
    const std::string wanted = arguments_.valueName ? registry::FoldName(*arguments_.valueName) : "";
    bool printed = false;
    for (const NamedValue& value : values) {
      if (arguments_.valueName && registry::FoldName(value.name) != wanted) continue;
      if (!printed) printf("%s\n", name.Full().c_str());
      printed = true;
      PrintValue(value);
      if (arguments_.valueName) break;
    }
    if (!printed && arguments_.valueName) return false;
    if (!printed) printf("%s\n", name.Full().c_str());
    printf("\n");
    return true;
  }

  // One block per key, parents before children: its name, then its values (with /v the
  // one value, and only keys that have it).
  LSTATUS Walk(const KeyName& name, HKEY key) {
    std::vector<NamedValue> values;
    std::vector<std::string> subkeys;
    LSTATUS status = ReadValues(key, values);
    if (status == ERROR_SUCCESS) status = ReadSubkeyNames(key, subkeys);
    if (status != ERROR_SUCCESS) {
      failedKey_ = name.Full();
      return status;
    }
    if (PrintKeyBlock(name, values) && arguments_.valueName) ++matches_;
    for (const std::string& subkeyName : subkeys) {
      CRegKey subkey;
      status = subkey.Open(key, subkeyName.c_str(), KEY_READ);
      if (status == ERROR_FILE_NOT_FOUND) continue;  // deleted by another process meanwhile
      if (status == ERROR_SUCCESS) status = Walk(name.Child(subkeyName), subkey);
      if (status != ERROR_SUCCESS) {
        if (failedKey_.empty()) failedKey_ = name.Child(subkeyName).Full();
        return status;
      }
    }
    return ERROR_SUCCESS;
  }

  const Arguments& arguments_;
  int matches_ = 0;
  std::string failedKey_;
};

// ---- add ----

int Add(const Arguments& arguments, const KeyName& name) {
  if ((arguments.type || arguments.data || !arguments.separator.empty()) && !arguments.valueName)
    return Fail("/t, /s and /d need /v NAME or /ve");
  DWORD type = REG_SZ;
  if (arguments.type && !TypeFromName(*arguments.type, type))
    return Fail(Quoted(*arguments.type) + " is no type add can write (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, " +
                "REG_DWORD, REG_BINARY)");
  if (!arguments.separator.empty() && type != REG_MULTI_SZ) return Fail("/s applies to REG_MULTI_SZ only");
  std::vector<BYTE> data;
  std::string reason;
  if (arguments.valueName && !DataFromText(type, arguments.data.value_or(""), arguments.separator, data, reason))
    return Fail(reason);

  CRegKey key;
  if (LSTATUS status = key.Create(name.root, name.path.c_str(), KEY_READ | KEY_WRITE); status != ERROR_SUCCESS)
    return Fail(name.Full() + ": " + Reason(status));
  if (!arguments.valueName) return Succeed();
  const std::string& valueName = *arguments.valueName;
  if (!arguments.force && FindValue(key, valueName) == ERROR_SUCCESS &&
      !Confirm("Value " + ValueLabel(valueName) + " exists, overwrite"))
    return Cancelled();
  LSTATUS status = RegSetValueExA(key, valueName.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
  if (status != ERROR_SUCCESS) return Fail(name.Full() + ", value " + Quoted(valueName) + ": " + Reason(status));
  return Succeed();
}

// ---- delete ----

int Delete(const Arguments& arguments, const KeyName& name) {
  CRegKey key;
  if (LSTATUS status = OpenKey(name, KEY_READ | KEY_WRITE, key); status != ERROR_SUCCESS)
    return KeyFailure(name, status);
  LSTATUS status = ERROR_SUCCESS;
  if (arguments.valueName) {
    const std::string& valueName = *arguments.valueName;
    status = FindValue(key, valueName);
    if (status == ERROR_FILE_NOT_FOUND) return Fail(name.Full() + " has no value " + Quoted(ValueLabel(valueName)));
    if (status != ERROR_SUCCESS) return KeyFailure(name, status);
    if (!arguments.force && !Confirm("Delete the value " + ValueLabel(valueName) + " of " + name.Full()))
      return Cancelled();
    status = RegDeleteValueA(key, valueName.c_str());
  } else if (arguments.allValues) {
    std::vector<NamedValue> values;
    if ((status = ReadValues(key, values)) != ERROR_SUCCESS) return KeyFailure(name, status);
    if (!arguments.force && !Confirm("Delete every value of " + name.Full())) return Cancelled();
    for (const NamedValue& value : values) {
      status = RegDeleteValueA(key, value.name.c_str());
      if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;  // deleted by another process meanwhile
      if (status != ERROR_SUCCESS) break;
    }
  } else {
    if (name.path.empty()) return Fail("a root key (" + name.rootName + ") cannot be deleted");
    if (!arguments.force && !Confirm("Permanently delete the key " + name.Full() + " and everything below it"))
      return Cancelled();
    key.Close();
    status = RegDeleteTreeA(name.root, name.path.c_str());
  }
  if (status != ERROR_SUCCESS) return Fail(name.Full() + ": " + Reason(status));
  return Succeed();
}

// ---- export ----

LSTATUS ReadSubtree(HKEY handle, registry::Key& key) {
  std::vector<NamedValue> values;
  std::vector<std::string> subkeys;
  LSTATUS status = ReadValues(handle, values);
  if (status == ERROR_SUCCESS) status = ReadSubkeyNames(handle, subkeys);
  if (status != ERROR_SUCCESS) return status;
  for (NamedValue& value : values) key.SetValue(registry::MakeName(value.name), value.type, std::move(value.data));
  for (const std::string& subkeyName : subkeys) {
    CRegKey subkey;
    status = subkey.Open(handle, subkeyName.c_str(), KEY_READ);
    if (status == ERROR_FILE_NOT_FOUND) continue;  // deleted by another process meanwhile
    bool created = false;
    if (status == ERROR_SUCCESS) status = ReadSubtree(subkey, key.SubkeyFor(registry::MakeName(subkeyName), created));
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The whole file; false with errno set when it cannot be read.
bool ReadFile(const std::string& path, std::string& text) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  const bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) errno = EIO;
  return !failed;
}

int Export(const Arguments& arguments, const KeyName& name) {
  const std::string& path = arguments.operands[1];
  CRegKey key;
  if (LSTATUS status = OpenKey(name, KEY_READ, key); status != ERROR_SUCCESS) return KeyFailure(name, status);
  registry::Key subtree(name.Full());
  if (LSTATUS status = ReadSubtree(key, subtree); status != ERROR_SUCCESS)
    return Fail(name.Full() + ": " + Reason(status));
  const std::string text = registry::FormatRegistryExport(subtree, name.Full());
  if (!arguments.force && FileExists(path) && !Confirm("File " + path + " exists, overwrite")) return Cancelled();
  FILE* file = fopen(path.c_str(), "w");
  bool written = file && fwrite(text.data(), 1, text.size(), file) == text.size();
  const int writeError = errno;
  if (file && fclose(file) != 0 && written) written = false;
  if (!written) return Fail("cannot write " + path + ": " + strerror(file ? errno : writeError));
  return Succeed();
}

// ---- import ----

class Import {
 public:
  int Run(const std::string& path) {
    std::string text;
    if (!ReadFile(path, text)) return Fail("cannot read " + path + ": " + strerror(errno));
    registry::Tree tree;
    registry::ParseError error;
    if (!registry::ParseRegistryText(text, tree, error))
      return Fail(path + ", line " + std::to_string(error.line) + ": " + error.reason + " (nothing imported)");
    if (!Apply(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "", tree.localMachine) ||
        !Apply(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "", tree.currentUser))
      return Fail(failure_);
    return Succeed();
  }

 private:
  // Creates the keys and sets the values of `key` (at `path` below `root`) and below.
  // Keys that are only on the way to others are created by their subkeys.
  bool Apply(HKEY root, const std::string& rootName, const std::string& path, const registry::Key& key) {
    const bool own = !key.values().empty() || (key.subkeys().empty() && !path.empty());
    if (own) {
      CRegKey opened;
      const std::string fullName = path.empty() ? rootName : rootName + "\\" + path;
      if (LSTATUS status = opened.Create(root, path.c_str(), KEY_WRITE); status != ERROR_SUCCESS) {
        failure_ = fullName + ": " + Reason(status);
        return false;
      }
      for (const registry::Value& value : key.values()) {
        LSTATUS status = RegSetValueExA(opened, value.name.text.c_str(), 0, value.type, value.data.data(),
                                        static_cast<DWORD>(value.data.size()));
        if (status != ERROR_SUCCESS) {
          failure_ = fullName + ", value " + Quoted(value.name.text) + ": " + Reason(status);
          return false;
        }
      }
    }
    for (const auto& [folded, subkey] : key.subkeys()) {
      if (!Apply(root, rootName, path.empty() ? subkey->name() : path + "\\" + subkey->name(), *subkey)) return false;
    }
    return true;
  }

  std::string failure_;
};

}  // namespace

int RunOperation(const Arguments& arguments) {
  if (*arguments.operation == Operation::Import) return Import().Run(arguments.operands[0]);
  KeyName name;
  std::string reason;
  if (!ParseKeyName(arguments.operands[0], name, reason)) return Fail(reason);
  switch (*arguments.operation) {
    case Operation::Query:
      return Query(arguments).Run(name);
    case Operation::Add:
      return Add(arguments, name);
    case Operation::Delete:
      return Delete(arguments, name);
    case Operation::Export:
      return Export(arguments, name);
    case Operation::Import:
      break;
  }
  return 1;
}

}  // namespace auralink::reg
