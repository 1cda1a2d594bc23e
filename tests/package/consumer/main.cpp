// Uses the installed platform layer the way the system's own code does: BSTRs, payload
// arrays and the registry file.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

static int failures = 0;
static void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

int main() {
  BSTR text = SysAllocString(L"Touchpoint");
  Check(SysStringLen(text) == 10, "BSTR length");
  SysFreeString(text);

  SAFEARRAY* items = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  Check(items != nullptr, "SAFEARRAY of VARIANT created");
  for (LONG i = 0; i < 2; ++i) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(i == 0 ? L"first" : L"second");
    Check(SUCCEEDED(SafeArrayPutElement(items, &i, &v)), "element put");
    VariantClear(&v);
  }
  LONG upper = -1;
  SafeArrayGetUBound(items, 1, &upper);
  Check(upper == 1, "upper bound");
  SafeArrayDestroy(items);

  HKEY key = nullptr;
  Check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS,
        "registry key created");
  DWORD level = 3;
  RegSetValueExA(key, "TraceLevel", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level), sizeof level);
  DWORD readBack = 0, size = sizeof readBack, type = 0;
  Check(RegQueryValueExA(key, "TraceLevel", nullptr, &type, reinterpret_cast<BYTE*>(&readBack), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && readBack == 3,
        "registry value read back");
  RegCloseKey(key);

  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
