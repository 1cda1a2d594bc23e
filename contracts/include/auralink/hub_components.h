// The hub components library: the process-wide listening manager (subscriptions and
// indications) and discovery manager (enumeration and retrieval). Both find an agent's
// classes through the CLSIDs of its key ("ListeningID", "DiscoveryID"). Results are
// nonzero on success; strings are narrow. Both accept calls from any thread.
#pragma once
#include <memory>

#include "interfaces.h"

// The agent's listening class ("ListeningID") is created, initialised and started by the
// agent's first subscription, and stopped, terminated and released when its last one goes;
// an agent never has two listening objects at once. No lock is held while a sink or the
// listening class runs: a sink may subscribe or unsubscribe from inside its Indicate, and
// the class may indicate from inside Start. What a listening class must accept is told in
// docs/contracts.md.
class CListeningManager {
 public:
  static CListeningManager* GetInstance();

  // Subscribes `sink` for the agent's indications and writes the subscription identifier
  // into `cid`. The manager keeps its own reference while subscribed. The subscription is
  // in place before the listening class starts, so the sink also gets what the class
  // indicates while it starts. A Subscribe that comes while the agent's listening class
  // is being stopped waits until it is gone and a new one runs (inside a delivery it does
  // not wait: the subscription is recorded and the new object follows). 0, with the
  // sink given back and `cid` untouched, when the class cannot be started.
  int Subscribe(const char* agentName, IHubSink* sink, LONG* cid);
  // No further indications reach that subscription's sink once it returns; 0 for an
  // unknown identifier or one being removed by another call. Called outside a delivery, it
  // returns once no call into the sink is under way and the manager's reference is given
  // back, so the sink's owner may destroy it; when it ends the agent's last subscription,
  // the listening class is stopped first and the sink receives what the class indicates
  // until it has stopped. From inside a delivery the sink leaves at once.
  int Unsubscribe(LONG cid);
  // Delivers one item to every sink subscribed for the agent, as payload arrays of one
  // element each (operation, key stream, object stream). Nonzero when at least one sink
  // received it and none refused it (a failed HRESULT); 0 when it reached no sink or a sink
  // refused it, so that the caller keeps the item to deliver again.
  int Indicate(const char* agentName, short operation, const char* opPKStream, const char* opStream);

  CListeningManager(const CListeningManager&) = delete;
  CListeningManager& operator=(const CListeningManager&) = delete;

 private:
  struct State;
  CListeningManager();
  ~CListeningManager();
  std::unique_ptr<State> state_;
};

// Keeps one discovery object per agent, created and initialised on first use and kept
// until Shutdown. The discovery classes are apartment-threaded and the runtime does no
// marshalling, so the manager serialises all calls into one agent's object, whichever
// thread they come from.
class CDiscoveryManager {
 public:
  static CDiscoveryManager* GetInstance();

  // Forward to the agent's discovery class, initialised with the agent name. The other
  // arguments are IHub's, as received; the parameter sets arrive as VARIANT arrays.
  int EnumInstances(const char* agentName, BSTR classPath, LONG dip, SAFEARRAY** parameterSet, LONG* count,
                    SAFEARRAY** instanceIds);
  int GetInstance(const char* agentName, BSTR instanceID, LONG localOnly, SAFEARRAY** parameterSetList,
                  BSTR* instance);

  // Terminates and releases every agent's discovery object, once the calls under way into
  // it have returned; a program calls it before it ends its COM use. 0, after a trace
  // line per failure, when an object's Terminate failed (it is released all the same). A
  // later call creates and initialises the agent's object again.
  int Shutdown();

  CDiscoveryManager(const CDiscoveryManager&) = delete;
  CDiscoveryManager& operator=(const CDiscoveryManager&) = delete;

 private:
  struct State;
  CDiscoveryManager();
  ~CDiscoveryManager();
  std::unique_ptr<State> state_;
};
