// Subscriptions, indications and each agent's listening class.
//
// Locking: `mutex` guards the subscription table, each subscription's flags and each
// agent's listener record. It is never held while a sink or a listening class runs, so a
// sink may subscribe or unsubscribe from inside Indicate and a listening class may indicate
// from its threads, or from inside Start, while it is being started or stopped.
//
// Listening: an agent's listening class runs while the agent has subscriptions. Subscribe
// records the subscription before it starts the class, so what the class indicates while
// it starts reaches the subscriber; a start that fails withdraws the subscription again.
// One thread at a time, the one that marked the agent `busy`, creates, starts, stops and
// releases the agent's listening object, and before it gives that role up it brings the
// object in line with the subscriptions that came and went meanwhile (Settle). So an agent
// never has two listening objects: a Subscribe or Unsubscribe that finds the agent busy
// waits until the start or shutdown under way is over. Inside a delivery it must not wait,
// because the busy thread may be stopping the very class whose thread is delivering (Stop
// waits for the class's threads); there a subscription is only recorded, and the busy
// thread starts a new listening object for it once the old one is gone.
//
// Stopping: the last Unsubscribe stops (Stop, Terminate, Release) the agent's listening
// object while the leaving subscription still receives, and withdraws it afterwards: what
// the class indicates while it winds down (the rest of a polling cycle) still reaches the
// sink. The subscription is marked `leaving` meanwhile, so it cannot be withdrawn twice.
// From inside a delivery, that is on one of the class's own threads, stopping the class
// there would wait for that thread itself: the subscription is withdrawn at once and a
// helper thread stops the class. What the class indicates after that reaches no sink, and
// Indicate answers 0, so a listener keeps what it could not deliver for its next start.
//
// Delivery: Indicate works on a snapshot of the agent's subscriptions and checks, before
// each call, that the subscription is still active. It answers 0 when the item reached no
// active sink or a sink refused it (a failed HRESULT): the caller keeps the item to deliver
// again. Unsubscribe from a thread that is not itself delivering waits until the calls
// that other threads are making into that sink have returned and gives the sink back, so
// its owner may destroy it as soon as Unsubscribe returns. Waiting from inside a delivery
// could deadlock two sinks that unsubscribe each other, so there the last call under way
// gives the sink back when it returns (a sink that unsubscribes itself stays referenced
// until its own call ends).
//
// Apartments: a sink is subscribed on the hub's thread (under a COM runtime, the pointer is
// a proxy that is valid in the hub's apartment only) and called from the listening class's
// threads; a listening object is created on whichever thread settles the agent and may be
// stopped from another. So neither pointer is kept as such: each goes into the Global
// Interface Table on the thread that received or created it, and every call fetches it
// there afresh, as a pointer valid on the calling thread. Giving a sink or a listening
// object back is revoking its cookie, from whichever thread does it. The threads that call
// through the table are in the multithreaded apartment (the pollers and the helper thread
// that stops a class) or are the subscriber's.
#include <windows.h>
#include <atlbase.h>
#include <auralink/agent_classes.h>
#include <auralink/config_keys.h>
#include <auralink/hub_components.h>
#include <auralink/payload_arrays.h>
#include <auralink/trace_utils.h>
#include <objbase.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>


namespace {

constexpr const char* kComponent = "ListeningManager";

// How many Indicate calls the current thread is inside (a sink may indicate in turn).
thread_local int deliveryDepth = 0;

struct DeliveryScope {
  DeliveryScope() { ++deliveryDepth; }
  ~DeliveryScope() { --deliveryDepth; }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;
};

// The Global Interface Table: what is kept there is fetched as a pointer valid in the
// fetching thread's apartment. Failures leave a trace line.
HRESULT Keep(IUnknown* object, REFIID iid, DWORD* cookie) {
  CComPtr<IGlobalInterfaceTable> table;
  HRESULT hr = table.CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER);
  if (SUCCEEDED(hr)) hr = table->RegisterInterfaceInGlobal(object, iid, cookie);
  if (FAILED(hr)) {
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Unable to keep an interface for other threads (hr = 0x%08X)",
                                       static_cast<unsigned>(hr));
  }
  return hr;
}

template <typename Interface>
HRESULT Fetch(DWORD cookie, CComPtr<Interface>& object) {
  CComPtr<IGlobalInterfaceTable> table;
  HRESULT hr = table.CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER);
  if (SUCCEEDED(hr)) hr = table->GetInterfaceFromGlobal(cookie, __uuidof(Interface), reinterpret_cast<void**>(&object));
  return hr;
}

void GiveBack(DWORD cookie) {
  CComPtr<IGlobalInterfaceTable> table;
  HRESULT hr = table.CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER);
  if (SUCCEEDED(hr)) hr = table->RevokeInterfaceFromGlobal(cookie);
  if (FAILED(hr)) {
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Unable to give back the interface kept as %u (hr = 0x%08X)",
                                       static_cast<unsigned>(cookie), static_cast<unsigned>(hr));
  }
}

struct Subscription {
  Subscription(LONG id, std::string agentName, DWORD sinkCookie) : cid(id), agent(std::move(agentName)), sink(sinkCookie) {}
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  // Under State::mutex: true when the sink is to be given back now, the subscription being
  // gone and no delivery that may give it back still calling it. Answers true once.
  bool TakeReleasable(bool byUnsubscribe) {
    if (active || released || callsUnderWay > 0 || releasedByUnsubscribe != byUnsubscribe) return false;
    released = true;
    return true;
  }

  const LONG cid;
  const std::string agent;
  const DWORD sink;  // the sink's cookie in the Global Interface Table
  // All guarded by State::mutex.
  bool active = true;
  // An Unsubscribe outside a delivery is stopping the agent's listening class before it
  // withdraws this subscription, which goes on receiving meanwhile.
  bool leaving = false;
  int callsUnderWay = 0;
  // Unsubscribe waits for the calls under way and releases the sink itself; otherwise the
  // last of those calls releases it.
  bool releasedByUnsubscribe = false;
  bool released = false;
};
using SubscriptionPtr = std::shared_ptr<Subscription>;

// The agent's listening class and the subscriptions that keep it running. All guarded by
// State::mutex.
struct AgentListener {
  int subscriptions = 0;
  // A thread is starting or stopping the agent's listening class; only that thread
  // changes `object`.
  bool busy = false;
  std::optional<DWORD> object;  // the listening object's cookie in the Global Interface Table
};

// Stop, Terminate and release an agent's listening class.
void ShutDown(IListening* object, const std::string& agent) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  HRESULT hr = object->Stop();
  if (FAILED(hr)) {
    trace->LogMsg(0, kComponent, "Agent %s: Stop of the listening class failed (hr = 0x%08X)", agent.c_str(),
                  static_cast<unsigned>(hr));
  }
  hr = object->Terminate();
  if (FAILED(hr)) {
    trace->LogMsg(0, kComponent, "Agent %s: Terminate of the listening class failed (hr = 0x%08X)", agent.c_str(),
                  static_cast<unsigned>(hr));
  }
  object->Release();
  trace->LogMsg(1, kComponent, "Agent %s: listening stopped", agent.c_str());
}

// Creates the agent's listening class, initialises it with the agent name and starts it.
// Null, after a trace line, when any step fails; whatever was created is undone.
CComPtr<IListening> StartListening(const std::string& agent) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  CComPtr<IListening> object;
  object.Attach(auralink::CreateAgentClass<IListening>(kComponent, agent, auralink::config::kListeningId));
  if (!object) return nullptr;
  CComBSTR name(agent);
  HRESULT hr = name.m_str ? object->Initialize(name) : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    trace->LogMsg(0, kComponent, "Agent %s: Initialize of the listening class failed (hr = 0x%08X)", agent.c_str(),
                  static_cast<unsigned>(hr));
    object->Terminate();  // gives back whatever a half-done Initialize built
    return nullptr;
  }
  hr = object->Start();
  if (FAILED(hr)) {
    trace->LogMsg(0, kComponent, "Agent %s: Start of the listening class failed (hr = 0x%08X)", agent.c_str(),
                  static_cast<unsigned>(hr));
    object->Stop();
    object->Terminate();
    return nullptr;
  }
  trace->LogMsg(1, kComponent, "Agent %s: listening started", agent.c_str());
  return object;
}

// StartListening, the object then kept in the Global Interface Table for the thread that
// will stop it. Empty when it did not start.
std::optional<DWORD> StartKeptListening(const std::string& agent) {
  CComPtr<IListening> object = StartListening(agent);
  if (!object) return std::nullopt;
  DWORD cookie = 0;
  if (FAILED(Keep(object, __uuidof(IListening), &cookie))) {
    ShutDown(object.Detach(), agent);
    return std::nullopt;
  }
  return cookie;
}

// Stops the agent's listening object kept as `cookie`, from this thread, and lets it go.
void ShutDownKept(DWORD cookie, const std::string& agent) {
  CComPtr<IListening> object;
  HRESULT hr = Fetch(cookie, object);
  if (SUCCEEDED(hr)) {
    ShutDown(object.Detach(), agent);
  } else {
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Agent %s: the listening class cannot be stopped (hr = 0x%08X)",
                                       agent.c_str(), static_cast<unsigned>(hr));
  }
  GiveBack(cookie);
}

}  // namespace

struct CListeningManager::State {
  using Table = std::map<LONG, SubscriptionPtr>;

  std::mutex mutex;
  std::condition_variable callReturned;
  std::condition_variable settled;  // an agent stopped being busy
  LONG lastCid = 0;
  Table byCid;
  std::map<std::string, AgentListener> listeners;  // nodes stay put; never erased

  // Under `lock`: ends the subscription at `found`. Outside a delivery it waits until no
  // call into the sink is under way. `releasable` tells whether the sink is to be given
  // back once the lock is released, or a call still under way gives it back.
  SubscriptionPtr Withdraw(std::unique_lock<std::mutex>& lock, Table::iterator found, bool& releasable) {
    SubscriptionPtr subscription = std::move(found->second);
    byCid.erase(found);
    subscription->active = false;
    --listeners[subscription->agent].subscriptions;
    subscription->releasedByUnsubscribe = deliveryDepth == 0;
    if (subscription->releasedByUnsubscribe) {
      callReturned.wait(lock, [&] { return subscription->callsUnderWay == 0; });
    }
    releasable = subscription->TakeReleasable(subscription->releasedByUnsubscribe);
    return subscription;
  }

  // Called under `lock` by the thread that made the agent busy: starts or stops the agent's
  // listening class until it runs exactly while the agent has subscriptions, then gives the
  // busy role up. Each start is tried once; false when it failed, which leaves the agent
  // without a listening object.
  bool Settle(std::unique_lock<std::mutex>& lock, AgentListener& listener, const std::string& agent) {
    bool started = true;
    for (;;) {
      if (listener.subscriptions > 0 && !listener.object && started) {
        lock.unlock();
        std::optional<DWORD> object = StartKeptListening(agent);
        lock.lock();
        started = object.has_value();
        listener.object = object;
      } else if (listener.subscriptions == 0 && listener.object) {
        const DWORD retired = *listener.object;
        listener.object.reset();
        lock.unlock();
        ShutDownKept(retired, agent);
        lock.lock();
      } else {
        break;
      }
    }
    listener.busy = false;
    settled.notify_all();
    return started;
  }

  // Settle on a thread of its own, for a caller that must not wait for the listening
  // class. False, after a trace line, when no thread can be started; the agent is then
  // left as it is.
  bool SettleElsewhere(AgentListener& listener, const std::string& agent) {
    try {
      std::thread([this, &listener, agent] {
        // It stops the class, and may start a new one, through the Global Interface Table.
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
          std::unique_lock<std::mutex> lock(mutex);
          Settle(lock, listener, agent);
        }
        if (SUCCEEDED(com)) CoUninitialize();
      }).detach();
      return true;
    } catch (const std::system_error& error) {
      CTraceUtils::GetInstance()->LogMsg(0, kComponent,
                                         "Agent %s: unable to stop listening (%s); the listening class keeps running",
                                         agent.c_str(), error.what());
      return false;
    }
  }
};

CListeningManager::CListeningManager() : state_(std::make_unique<State>()) {}
CListeningManager::~CListeningManager() = default;

CListeningManager* CListeningManager::GetInstance() {
  // Never destroyed: sinks and listening classes live in modules that may be gone at exit.
  static CListeningManager* instance = new CListeningManager();
  return instance;
}

int CListeningManager::Subscribe(const char* agentName, IHubSink* sink, LONG* cid) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!agentName || !*agentName || !sink || !cid) {
    trace->LogMsg(0, kComponent, "Subscribe of the agent %s refused: %s", agentName ? agentName : "",
                  !agentName || !*agentName ? "no agent name" : !sink ? "no sink" : "no place for the identifier");
    return 0;
  }
  std::string agent = agentName;
  // The sink as this thread was given it, for the threads that will deliver to it.
  DWORD sinkCookie = 0;
  if (FAILED(Keep(sink, __uuidof(IHubSink), &sinkCookie))) {
    trace->LogMsg(0, kComponent, "Subscribe of the agent %s refused: the sink cannot be kept", agentName);
    return 0;
  }
  State& state = *state_;
  std::unique_lock<std::mutex> lock(state.mutex);
  AgentListener& listener = state.listeners[agent];
  const LONG id = ++state.lastCid;
  state.byCid.emplace(id, std::make_shared<Subscription>(id, agent, sinkCookie));
  ++listener.subscriptions;
  if (listener.busy && deliveryDepth > 0) {
    // The busy thread starts a listening object for this subscription when it is done.
    int count = listener.subscriptions;
    lock.unlock();
    *cid = id;
    trace->LogMsg(2, kComponent,
                  "Agent %s: subscription %d added while listening is being started or stopped (%d for the agent)",
                  agent.c_str(), static_cast<int>(id), count);
    return 1;
  }
  state.settled.wait(lock, [&] { return !listener.busy; });
  if (!listener.object) {
    listener.busy = true;
    if (!state.Settle(lock, listener, agent)) {
      auto found = state.byCid.find(id);
      bool releasable = false;
      if (found != state.byCid.end()) state.Withdraw(lock, found, releasable);
      lock.unlock();
      if (releasable) GiveBack(sinkCookie);
      trace->LogMsg(0, kComponent, "Agent %s: subscription refused, the agent cannot listen", agent.c_str());
      return 0;
    }
  }
  int count = listener.subscriptions;
  lock.unlock();
  *cid = id;
  trace->LogMsg(2, kComponent, "Agent %s: subscription %d added (%d for the agent)", agent.c_str(),
                static_cast<int>(id), count);
  return 1;
}

int CListeningManager::Unsubscribe(LONG cid) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  State& state = *state_;
  std::unique_lock<std::mutex> lock(state.mutex);
  auto found = state.byCid.find(cid);
  if (found == state.byCid.end() || found->second->leaving) {
    const bool leaving = found != state.byCid.end();
    lock.unlock();
    trace->LogMsg(0, kComponent, leaving ? "Unsubscribe: subscription %d is already being removed"
                                         : "Unsubscribe: no subscription %d",
                  static_cast<int>(cid));
    return 0;
  }
  const std::string agent = found->second->agent;
  AgentListener& listener = state.listeners[agent];
  if (deliveryDepth == 0) {
    found->second->leaving = true;
    state.settled.wait(lock, [&] { return !listener.busy; });
    if (listener.subscriptions == 1 && listener.object) {
      // The last one: the class stops while this sink still receives what it indicates.
      listener.busy = true;
      const DWORD retired = *listener.object;
      listener.object.reset();
      lock.unlock();
      trace->LogMsg(2, kComponent, "Agent %s: subscription %d is the last, listening stops before it goes",
                    agent.c_str(), static_cast<int>(cid));
      ShutDownKept(retired, agent);
      lock.lock();
      bool releasable = false;
      SubscriptionPtr withdrawn = state.Withdraw(lock, state.byCid.find(cid), releasable);
      // Subscriptions recorded from inside deliveries meanwhile get a new listening object.
      state.Settle(lock, listener, agent);
      lock.unlock();
      if (releasable) GiveBack(withdrawn->sink);
      trace->LogMsg(2, kComponent, "Agent %s: subscription %d removed", agent.c_str(), static_cast<int>(cid));
      return 1;
    }
    found = state.byCid.find(cid);
  }
  bool releasable = false;
  SubscriptionPtr withdrawn = state.Withdraw(lock, found, releasable);
  const bool stop = listener.subscriptions == 0 && listener.object && !listener.busy;
  if (stop) listener.busy = true;
  lock.unlock();
  if (releasable) GiveBack(withdrawn->sink);
  trace->LogMsg(2, kComponent, "Agent %s: subscription %d removed", agent.c_str(), static_cast<int>(cid));
  if (!stop) return 1;

  // Inside a delivery, stopping the class here would wait for this very thread.
  if (deliveryDepth == 0) {
    lock.lock();
    state.Settle(lock, listener, agent);
  } else if (!state.SettleElsewhere(listener, agent)) {
    lock.lock();
    listener.busy = false;
    state.settled.notify_all();
  }
  return 1;
}

int CListeningManager::Indicate(const char* agentName, short operation, const char* opPKStream,
                                const char* opStream) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!agentName) return 0;
  std::vector<SubscriptionPtr> receivers;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const auto& [id, subscription] : state_->byCid) {
      if (subscription->agent == agentName) receivers.push_back(subscription);
    }
  }
  trace->LogMsg(3, kComponent, "Agent %s: operation %d for %d sink(s)", agentName, static_cast<int>(operation),
                static_cast<int>(receivers.size()));
  if (receivers.empty()) return 0;

  auralink::PayloadArray operations(auralink::CreatePayloadArray(1));
  auralink::PayloadArray keys(auralink::CreatePayloadArray(1));
  auralink::PayloadArray objects(auralink::CreatePayloadArray(1));
  if (!operations || !keys || !objects || FAILED(auralink::PutOperationElement(operations.Get(), 0, operation)) ||
      FAILED(auralink::PutStringElement(keys.Get(), 0, opPKStream)) ||
      FAILED(auralink::PutStringElement(objects.Get(), 0, opStream))) {
    trace->LogMsg(0, kComponent, "Agent %s: out of memory, operation %d not delivered", agentName,
                  static_cast<int>(operation));
    return 0;
  }

  DeliveryScope delivering;
  int accepted = 0;
  bool refused = false;
  for (const SubscriptionPtr& subscription : receivers) {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (!subscription->active) continue;
      ++subscription->callsUnderWay;
    }
    // The sink as this thread may call it; let go before the call counts as returned.
    CComPtr<IHubSink> sink;
    HRESULT hr = Fetch(subscription->sink, sink);
    if (SUCCEEDED(hr)) {
      // Each sink gets its own copies of the array pointers: the arrays stay ours.
      SAFEARRAY* operationArray = operations.Get();
      SAFEARRAY* keyArray = keys.Get();
      SAFEARRAY* objectArray = objects.Get();
      hr = sink->Indicate(1, &operationArray, 1, &keyArray, 1, &objectArray);
      sink.Release();
    }
    bool releasable = false;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      --subscription->callsUnderWay;
      releasable = subscription->TakeReleasable(false);
    }
    state_->callReturned.notify_all();
    if (releasable) GiveBack(subscription->sink);
    if (FAILED(hr)) {
      refused = true;
      trace->LogMsg(2, kComponent, "Agent %s: sink of subscription %d refused operation %d (hr = 0x%08X)", agentName,
                    static_cast<int>(subscription->cid), static_cast<int>(operation), static_cast<unsigned>(hr));
    } else {
      ++accepted;
    }
  }
  return accepted > 0 && !refused ? 1 : 0;
}
