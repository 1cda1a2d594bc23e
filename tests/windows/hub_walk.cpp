// auralink-hub-walk: creates "Touchpoint.Hub" by its ProgID from the multithreaded
// apartment, as zeltdiscovery and zeltlisten do, and writes every instance of the instance
// agent as one "<identifier>\t<instance text>" line, in the order the hub lists them. The
// Windows check runs it under Wine and on Linux over the same repository file and compares
// the two outputs.
//
// With --listen it subscribes a sink of the multithreaded apartment for the instance
// agent through the same hub instead, and changes an object of the repository every
// second until the agent's listening class, polling the table from a thread of its own,
// indicates one (within 60 s): the hub's apartment is neither the sink's nor the polling
// thread's. The agent's trace goes to TRACE_FILE.
//
//   auralink-hub-walk OUTPUT_FILE
//   auralink-hub-walk --listen TRACE_FILE
//
// Exit status 0 when every instance was read or refused as the hub refuses an object it
// cannot describe (with --listen: when an indication arrived and the subscription ended),
// 1 otherwise.
#include <windows.h>
#include <objbase.h>

#include <atlbase.h>
#include <auralink/agent_trace.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/db_manager.h>
#include <auralink/hub_sink.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

int Fail(const char* what, HRESULT hr) {
  std::printf("%s: 0x%08X\n", what, static_cast<unsigned>(hr));
  return 1;
}

// "Touchpoint.Hub" created by its ProgID from the multithreaded apartment, for `agent`:
// 0, or 1 after printing what failed.
int CreateHub(const char* agent, CComPtr<IHub>& hub) {
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(L"Touchpoint.Hub", &clsid);
  if (FAILED(hr)) return Fail("Touchpoint.Hub is not registered", hr);
  hr = hub.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) return Fail("cannot create Touchpoint.Hub from the multithreaded apartment", hr);
  hr = hub->SetAgentName(CComBSTR(agent));
  if (FAILED(hr)) return Fail("SetAgentName failed", hr);
  return 0;
}

int Walk(const char* outputPath) {
  CComPtr<IHub> hub;
  if (CreateHub("QuillonLst", hub)) return 1;

  LONG count = 0;
  auralink::PayloadArray ids;
  SAFEARRAY* parameterSet = nullptr;
  HRESULT hr = hub->EnumInstances(CComBSTR(""), 0, &parameterSet, &count, ids.Receive());
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

class CountingSink : public CHubSink {
 public:
  int HandleOperation(LONG, BSTR id, BSTR stream) override {
    SysFreeString(id);
    SysFreeString(stream);
    ++received_;
    return 1;
  }
  int Received() const { return received_.load(); }

 private:
  std::atomic<int> received_{0};
};

int Listen(const char* tracePath) {
  namespace config = auralink::config;
  const char* agent = config::kInstanceAgent;
  CConfRepositoryManager::GetInstance()->SetStr(config::AgentKey(agent).c_str(), config::kLogFileName, tracePath);
  StartAgentTrace(agent);
  // The registered table entry, polled every second rather than every minute.
  const std::string table = config::PollingTableKey(agent, config::kManagedObjectsKey);
  if (!CConfRepositoryManager::GetInstance()->SetStr(table.c_str(), config::kRefreshTime, "1")) {
    std::printf("cannot set the poll interval of %s\n", table.c_str());
    return 1;
  }
  std::string failure;
  DBManager repository(config::kDefaultDatabase, nullptr, &failure);
  if (repository.OpenDb()) return std::printf("cannot open the repository: %s\n", failure.c_str()), 1;

  CComPtr<IHub> hub;
  if (CreateHub(agent, hub)) return 1;
  CountingSink sink;
  LONG cid = 0;
  HRESULT hr = hub->Subscribe(&sink, &cid);
  if (FAILED(hr)) return Fail("Subscribe failed", hr);

  // The poller's first snapshot is its baseline; a change made before it is not seen, so
  // the same object changes again each second.
  int seconds = 0;
  for (; seconds < 60 && sink.Received() == 0; ++seconds) {
    char update[160];
    std::snprintf(update, sizeof update,
                  "UPDATE tng_managedobject SET date_modify = '2031-01-01 00:%02d:%02d' "
                  "WHERE rowid = (SELECT MIN(rowid) FROM tng_managedobject)",
                  seconds / 60, seconds % 60);
    std::vector<TabEntry> rows;
    std::vector<std::string> columns;
    if (repository.MakeQuery(update, rows, columns)) return std::printf("update refused: %s\n", failure.c_str()), 1;
    Sleep(1000);
  }
  const int received = sink.Received();
  hr = hub->Unsubscribe(cid);
  std::printf("%d indication(s) after %d s; Unsubscribe: 0x%08X\n", received, seconds, static_cast<unsigned>(hr));
  return received > 0 && SUCCEEDED(hr) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool listen = argc == 3 && std::string(argv[1]) == "--listen";
  if (argc != 2 && !listen) {
    std::printf("usage: auralink-hub-walk OUTPUT_FILE | --listen TRACE_FILE\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    std::printf("CoInitializeEx failed\n");
    return 1;
  }
  const int status = listen ? Listen(argv[2]) : Walk(argv[1]);
  CoUninitialize();
  return status;
}
