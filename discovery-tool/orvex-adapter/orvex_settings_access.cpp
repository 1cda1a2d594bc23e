#include "orvex_settings_access.h"

#include <auralink/conf_repository.h>

namespace auralink::orvex {

namespace {
constexpr DWORD kSettingSize = 260;
}

int ReadStringSetting(const char* keyPath, const char* name, std::string& value) {
  char buffer[kSettingSize] = {};
  DWORD type = 0;
  DWORD size = kSettingSize;
  if (!CConfRepositoryManager::GetInstance()->ReadStr(keyPath, name, &type, buffer, &size)) return 0;
  value = buffer;
  return 1;
}

int ReadNumberSetting(const char* keyPath, const char* name, LONG& value) {
  DWORD type = 0;
  DWORD size = kSettingSize;
  return CConfRepositoryManager::GetInstance()->ReadNum(keyPath, name, &type, &value, &size);
}

}  // namespace auralink::orvex
