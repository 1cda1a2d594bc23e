// Subscriptions and indications.
//
// Locking: `mutex` guards the subscription table and each subscription's flags. It is never
// held while a sink or a listening class runs, so a sink may subscribe or unsubscribe from
// inside Indicate and a listening class may indicate from its threads while it is being
// started or stopped. Each agent's listening class is created and stopped under that
// agent's own `lifecycle` mutex, which Indicate never takes.
//
// Delivery: Indicate works on a snapshot of the agent's subscriptions and checks, before
// each call, that the subscription is still active. Unsubscribe from a thread that is not
// itself delivering waits until the calls that other threads are making into that sink
// have returned and gives the sink back, so its owner may destroy it as soon as
// Unsubscribe returns. Waiting from inside a delivery could deadlock two sinks that
// unsubscribe each other, so there the last call under way gives the sink back when it
// returns (a sink that unsubscribes itself stays referenced until its own call ends).
#include <atlbase.h>
#include <auralink/agent_classes.h>
#include <auralink/config_keys.h>
#include <auralink/hub_components.h>
#include <auralink/payload_arrays.h>
#include <auralink/trace_utils.h>

#include <condition_variable>
#include <map>
#include <mutex>
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

struct Subscription {
  Subscription(LONG id, std::string agentName, IHubSink* subscriber)
      : cid(id), agent(std::move(agentName)), sink(subscriber) {
    sink->AddRef();
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  // Under State::mutex: the sink to give back now, once the subscription is gone and no
  // delivery that may release it is still calling it; null otherwise. Answers it once.
  IHubSink* TakeReleasable(bool byUnsubscribe) {
    if (active || released || callsUnderWay > 0 || releasedByUnsubscribe != byUnsubscribe) return nullptr;
    released = true;
    return sink;
  }

  const LONG cid;
  const std::string agent;
  IHubSink* const sink;
  // All guarded by State::mutex.
  bool active = true;
  int callsUnderWay = 0;
  // Unsubscribe waits for the calls under way and releases the sink itself; otherwise the
  // last of those calls releases it.
  bool releasedByUnsubscribe = false;
  bool released = false;
};
using SubscriptionPtr = std::shared_ptr<Subscription>;

// The agent's listening class runs while the agent has subscriptions.
struct AgentListener {
  std::mutex lifecycle;
  int subscriptions = 0;  // guarded by lifecycle
  CComPtr<IListening> object;  // guarded by lifecycle
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

}  // namespace

struct CListeningManager::State {
  std::mutex mutex;
  std::condition_variable callReturned;
  LONG lastCid = 0;
  std::map<LONG, SubscriptionPtr> byCid;
  std::map<std::string, AgentListener> listeners;  // nodes stay put; never erased

  AgentListener& ListenerOf(const std::string& agent) {
    std::lock_guard<std::mutex> lock(mutex);
    return listeners[agent];
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
  AgentListener& listener = state_->ListenerOf(agent);
  std::lock_guard<std::mutex> lifecycle(listener.lifecycle);
  if (!listener.object) {
    listener.object = StartListening(agent);
    if (!listener.object) {
      trace->LogMsg(0, kComponent, "Agent %s: subscription refused, the agent cannot listen", agent.c_str());
      return 0;
    }
  }
  LONG id = 0;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    id = ++state_->lastCid;
    state_->byCid.emplace(id, std::make_shared<Subscription>(id, agent, sink));
  }
  ++listener.subscriptions;
  *cid = id;
  trace->LogMsg(2, kComponent, "Agent %s: subscription %d added (%d for the agent)", agent.c_str(),
                static_cast<int>(id), listener.subscriptions);
  return 1;
}

int CListeningManager::Unsubscribe(LONG cid) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  SubscriptionPtr subscription;
  IHubSink* releasable = nullptr;
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    auto found = state_->byCid.find(cid);
    if (found == state_->byCid.end()) {
      lock.unlock();
      trace->LogMsg(0, kComponent, "Unsubscribe: no subscription %d", static_cast<int>(cid));
      return 0;
    }
    subscription = std::move(found->second);
    state_->byCid.erase(found);
    subscription->active = false;
    subscription->releasedByUnsubscribe = deliveryDepth == 0;
    if (subscription->releasedByUnsubscribe) {
      state_->callReturned.wait(lock, [&] { return subscription->callsUnderWay == 0; });
    }
    releasable = subscription->TakeReleasable(subscription->releasedByUnsubscribe);
  }
  if (releasable) releasable->Release();
  const std::string& agent = subscription->agent;
  trace->LogMsg(2, kComponent, "Agent %s: subscription %d removed", agent.c_str(), static_cast<int>(cid));

  AgentListener& listener = state_->ListenerOf(agent);
  IListening* retired = nullptr;
  {
    std::lock_guard<std::mutex> lifecycle(listener.lifecycle);
    if (--listener.subscriptions == 0) retired = listener.object.Detach();
  }
  if (!retired) return 1;
  if (deliveryDepth == 0) {
    ShutDown(retired, agent);
    return 1;
  }
  // A sink unsubscribed from inside a delivery, that is on one of the listening class's
  // own threads: stopping the class here would wait for this very thread. Another thread
  // does it. (A subscription arriving meanwhile starts a new listening object beside the
  // one being stopped, as it would after any last unsubscription.)
  try {
    std::thread([retired, agent] { ShutDown(retired, agent); }).detach();
  } catch (const std::system_error& error) {
    trace->LogMsg(0, kComponent, "Agent %s: unable to stop listening (%s); the listening class keeps running",
                  agent.c_str(), error.what());
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
  if (receivers.empty()) return 1;

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
  for (const SubscriptionPtr& subscription : receivers) {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (!subscription->active) continue;
      ++subscription->callsUnderWay;
    }
    // Each sink gets its own copies of the array pointers: the arrays stay ours.
    SAFEARRAY* operationArray = operations.Get();
    SAFEARRAY* keyArray = keys.Get();
    SAFEARRAY* objectArray = objects.Get();
    HRESULT hr = subscription->sink->Indicate(1, &operationArray, 1, &keyArray, 1, &objectArray);
    IHubSink* releasable = nullptr;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      --subscription->callsUnderWay;
      releasable = subscription->TakeReleasable(false);
    }
    state_->callReturned.notify_all();
    if (releasable) releasable->Release();
    if (FAILED(hr)) {
      trace->LogMsg(2, kComponent, "Agent %s: sink of subscription %d refused operation %d (hr = 0x%08X)", agentName,
                    static_cast<int>(subscription->cid), static_cast<int>(operation), static_cast<unsigned>(hr));
    }
  }
  return 1;
}
