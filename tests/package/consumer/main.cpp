// Uses the installed package the way an outside subscriber does: BSTRs, payload arrays,
// the registry file, and a sink built on the utility library's sink base.
#include <auralink/contracts.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <auralink/platform/text.h>

static int failures = 0;
static void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

// Collects what the sink base hands over, as an outside subscriber would forward it.
class CollectingSink : public CHubSink {
 public:
  int HandleOperation(LONG operation, BSTR id, BSTR stream) override {
    received.push_back(std::to_string(operation) + " " + auralink::platform::BstrToNarrow(id) + " " +
                       auralink::platform::BstrToNarrow(stream));
    SysFreeString(id);
    SysFreeString(stream);
    return 1;
  }
  std::vector<std::string> received;
};

static void CheckSink() {
  auralink::PayloadArray ops(auralink::CreatePayloadArray(1));
  auralink::PayloadArray ids(auralink::CreatePayloadArray(1));
  auralink::PayloadArray objects(auralink::CreatePayloadArray(1));
  auralink::PutOperationElement(ops.Get(), 0, auralink::EVENTNOTIFICATION);
  auralink::PutStringElement(ids.Get(), 0, "");
  auralink::PutStringElement(objects.Get(), 0, "<event/>");
  CollectingSink sink;
  SAFEARRAY* opArray = ops.Get();
  SAFEARRAY* idArray = ids.Get();
  SAFEARRAY* objArray = objects.Get();
  IHubSink* asInterface = &sink;
  Check(asInterface->Indicate(1, &opArray, 1, &idArray, 1, &objArray) == S_OK, "sink took the item");
  Check(sink.received.size() == 1 && sink.received[0] == "12  <event/>", "sink handed the item over");
  Check(FAILED(asInterface->Indicate(2, &opArray, 1, &idArray, 1, &objArray)), "mismatched counts refused");
}

int main() {
  CheckSink();

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
