// auralink-hub-walk: creates "Touchpoint.Hub" by its ProgID from the multithreaded
// apartment, as zeltdiscovery and zeltlisten do, and writes every instance of the instance
// agent as one "<identifier>\t<instance text>" line, in the order the hub lists them. The
// Windows check runs it under Wine and on Linux over the same repository file and compares
// the two outputs.
//
//   auralink-hub-walk OUTPUT_FILE
//
// Exit status 0 when every instance was read or refused as the hub refuses an object it
// cannot describe, 1 otherwise.
#include <windows.h>
#include <objbase.h>

#include <atlbase.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>

#include <cstdio>
#include <string>

namespace {

int Fail(const char* what, HRESULT hr) {
  std::printf("%s: 0x%08X\n", what, static_cast<unsigned>(hr));
  return 1;
}

int Walk(const char* outputPath) {
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(L"Touchpoint.Hub", &clsid);
  if (FAILED(hr)) return Fail("Touchpoint.Hub is not registered", hr);
  CComPtr<IHub> hub;
  hr = hub.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) return Fail("cannot create Touchpoint.Hub from the multithreaded apartment", hr);
  hr = hub->SetAgentName(CComBSTR("QuillonLst"));
  if (FAILED(hr)) return Fail("SetAgentName failed", hr);

  LONG count = 0;
  auralink::PayloadArray ids;
  SAFEARRAY* parameterSet = nullptr;
  hr = hub->EnumInstances(CComBSTR(""), 0, &parameterSet, &count, ids.Receive());
  if (FAILED(hr)) return Fail("EnumInstances failed", hr);

  std::FILE* output = std::fopen(outputPath, "wb");
  if (!output) {
    std::printf("cannot write %s\n", outputPath);
    return 1;
  }
  // An object the repository cannot describe (no status row) is refused with E_FAIL on
  // both systems; its line records the refusal so that the two outputs still compare.
  int failures = 0, refused = 0;
  for (LONG k = 0; k < count; ++k) {
    std::string id;
    if (FAILED(auralink::GetStringElement(ids.Get(), k, &id))) {
      ++failures;
      continue;
    }
    CComBSTR instance;
    SAFEARRAY* parameterSetList = nullptr;
    hr = hub->GetInstance(CComBSTR(id), 0, &parameterSetList, &instance);
    if (hr == E_FAIL) {
      ++refused;
      std::fprintf(output, "%s\trefused\n", id.c_str());
      continue;
    }
    if (FAILED(hr)) {
      std::printf("GetInstance(%s) failed: 0x%08X\n", id.c_str(), static_cast<unsigned>(hr));
      ++failures;
      continue;
    }
    const std::string text = instance.ToNarrow();
    std::fprintf(output, "%s\t%s\n", id.c_str(), text.c_str());
  }
  std::fclose(output);
  std::printf("%d instances (%d refused), %d failures\n", static_cast<int>(count), refused, failures);
  return failures == 0 && count > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: auralink-hub-walk OUTPUT_FILE\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    std::printf("CoInitializeEx failed\n");
    return 1;
  }
  const int status = Walk(argv[1]);
  CoUninitialize();
  return status;
}
