// The stand-in agent server (see fake_agent_classes.h).
#include "fake_agent_classes.h"

#include <windows.h>
#include <objbase.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/hub_components.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <auralink/platform/text.h>

#include "type_library_interfaces.h"

namespace {

std::mutex journalMutex;
std::string journal;

void Note(const std::string& line) {
  std::lock_guard<std::mutex> lock(journalMutex);
  journal += line + "\n";
}

// Listening objects started and not yet terminated, by agent (guarded by journalMutex).
std::map<std::string, int> runningListeners;

void NoteStarted(const std::string& agent) {
  std::lock_guard<std::mutex> lock(journalMutex);
  if (runningListeners[agent]++ > 0) journal += "two listening objects " + agent + "\n";
}

void NoteTerminated(const std::string& agent) {
  std::lock_guard<std::mutex> lock(journalMutex);
  --runningListeners[agent];
}

bool Holds(const std::string& agent, const char* word) { return agent.find(word) != std::string::npos; }

// Notes when a second call enters an object while one is still running.
class CallScope {
 public:
  explicit CallScope(std::atomic<int>& inside) : inside_(inside) {
    if (++inside_ > 1) Note("overlap");
    std::this_thread::yield();
  }
  ~CallScope() { --inside_; }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  std::atomic<int>& inside_;
};

constexpr char kDiscoveryScript[] = R"(
HKCR
{
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'FakeDiscovery Class'
		{
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
		}
	}
}
)";

constexpr char kListeningScript[] = R"(
HKCR
{
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'FakeListening Class'
		{
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
		}
	}
}
)";

}  // namespace

class ATL_NO_VTABLE CFakeDiscovery
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CFakeDiscovery, &CLSID_FakeDiscovery>,
      public IDispatchImpl<IDiscovery, &IID_IDiscovery, &LIBID_FakeAgentLib, &kDiscoveryDispatch> {
 public:
  DECLARE_REGISTRY_SCRIPT(kDiscoveryScript)
  BEGIN_COM_MAP(CFakeDiscovery)
  COM_INTERFACE_ENTRY(IDiscovery)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  void FinalRelease() { Note("Discovery.destroyed " + agent_); }

  STDMETHOD(Initialize)(BSTR agentName) override {
    CallScope scope(inside_);
    agent_ = auralink::platform::BstrToNarrow(agentName);
    Note("Discovery.Initialize " + agent_);
    return agent_ == kAgentFailingInitialize ? E_FAIL : S_OK;
  }

  STDMETHOD(GetInstance)(BSTR instanceID, LONG localOnly, SAFEARRAY** parameters, BSTR* instance) override {
    CallScope scope(inside_);
    std::string id = auralink::platform::BstrToNarrow(instanceID);
    if (id == "fail") {
      *instance = SysAllocString(L"none");
      return E_FAIL;
    }
    std::string text = "agent=" + agent_ + "|id=" + id + "|local=" + std::to_string(localOnly) + "|params=";
    std::vector<std::string> items = Parameters(parameters);
    for (size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + items[i];
    text += "|";
    *instance = auralink::platform::AllocBstr(text);
    return S_OK;
  }

  STDMETHOD(EnumInstances)(BSTR classPath, LONG dip, SAFEARRAY** parameters, LONG* count, SAFEARRAY** ids) override {
    CallScope scope(inside_);
    std::string className = auralink::platform::BstrToNarrow(classPath);
    if (className == "fail") {
      *count = 99;
      return E_FAIL;
    }
    std::vector<std::string> items = {"agent=" + agent_, "class=" + className, "dip=" + std::to_string(dip)};
    for (std::string& item : Parameters(parameters)) items.push_back(std::move(item));
    SAFEARRAY* array = auralink::CreatePayloadArray(static_cast<LONG>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) auralink::PutStringElement(array, static_cast<LONG>(i), items[i].c_str());
    *count = static_cast<LONG>(items.size());
    *ids = array;
    return S_OK;
  }

  STDMETHOD(Terminate)() override {
    CallScope scope(inside_);
    Note("Discovery.Terminate " + agent_);
    return Holds(agent_, kAgentFailingTerminate) ? E_FAIL : S_OK;
  }

 private:
  // The BSTR parameters as text, or "params=<none>" without an array.
  static std::vector<std::string> Parameters(SAFEARRAY** parameters) {
    if (!parameters || !*parameters) return {"params=<none>"};
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(*parameters, &type);
    if (type != VT_BSTR) return {"params=<not BSTR>"};
    std::vector<std::string> items;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(*parameters, 1, &lower);
    SafeArrayGetUBound(*parameters, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
      BSTR item = nullptr;
      SafeArrayGetElement(*parameters, &i, &item);
      items.push_back(item ? auralink::platform::BstrToNarrow(item) : "<null>");
      SysFreeString(item);
    }
    return items;
  }

  std::atomic<int> inside_{0};
  std::string agent_;
};

class ATL_NO_VTABLE CFakeListening
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CFakeListening, &CLSID_FakeListening>,
      public IDispatchImpl<IListening, &IID_IListening, &LIBID_FakeAgentLib, &kListeningDispatch> {
 public:
  DECLARE_REGISTRY_SCRIPT(kListeningScript)
  BEGIN_COM_MAP(CFakeListening)
  COM_INTERFACE_ENTRY(IListening)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  void FinalRelease() {
    StopTicking();
    Note("Listening.destroyed " + agent_);
  }

  STDMETHOD(Initialize)(BSTR agentName) override {
    agent_ = auralink::platform::BstrToNarrow(agentName);
    Note("Listening.Initialize " + agent_);
    return agent_ == kAgentFailingInitialize ? E_FAIL : S_OK;
  }
  STDMETHOD(Start)() override {
    Note("Listening.Start " + agent_);
    if (!started_) NoteStarted(agent_);
    started_ = true;
    if (Holds(agent_, kAgentEagerWord)) CListeningManager::GetInstance()->Indicate(agent_.c_str(), 7, "", "starting");
    if (Holds(agent_, kAgentFailingStart)) return E_FAIL;
    if (Holds(agent_, kAgentTickingWord) && !ticker_.joinable()) {
      running_ = true;
      ticker_ = std::thread([this] {
        // As the real listening classes' threads: in the multithreaded apartment, where the
        // listening manager fetches the subscribed sinks.
        const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        for (int tick = 0; running_; ++tick) {
          std::string text = "tick " + std::to_string(tick);
          CListeningManager::GetInstance()->Indicate(agent_.c_str(), 7, "", text.c_str());
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (Holds(agent_, kAgentDrainingWord)) {
          int result = CListeningManager::GetInstance()->Indicate(agent_.c_str(), 7, "", "last words");
          Note("Listening.last words " + agent_ + " " + std::to_string(result));
        }
        if (com) CoUninitialize();
      });
    }
    return S_OK;
  }
  // Waits for the thread, as a listening class whose threads must be gone before
  // Terminate frees them would.
  STDMETHOD(Stop)() override {
    Note("Listening.Stop " + agent_);
    if (Holds(agent_, kAgentSlowStopWord)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    StopTicking();
    return S_OK;
  }
  STDMETHOD(Terminate)() override {
    Note("Listening.Terminate " + agent_);
    if (started_) NoteTerminated(agent_);
    started_ = false;
    return S_OK;
  }

 private:
  void StopTicking() {
    running_ = false;
    if (ticker_.joinable()) ticker_.join();
  }

  std::string agent_;
  bool started_ = false;
  std::atomic<bool> running_{false};
  std::thread ticker_;
};

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_FakeDiscovery, CFakeDiscovery)
OBJECT_ENTRY(CLSID_FakeListening, CFakeListening)
END_OBJECT_MAP()

DECLARE_DLL_MAIN(ObjectMap, &LIBID_FakeAgentLib, "FakeAgent 1.0 Type Library", kTypeLibraryInterfaces)
DECLARE_DLL_ENTRY_POINTS()

extern "C" __attribute__((visibility("default"))) void FakeAgentJournal(std::string* text) {
  std::lock_guard<std::mutex> lock(journalMutex);
  *text = journal;
}
