// CListeningHost: one agent's listening run. It queues every indication of the agent and
// forwards the queue to Orvex on one thread.
//
// Protocol (on one thread that has initialised COM):
//   Start(agent) -> 1 when the adapter registered and the hub subscription is in place;
//                   on 0 everything Start began is already undone.
//   Counts() any number of times, from that thread.
//   Stop(drainMs): unsubscribes (the agent's listeners stop), forwards what is queued for
//                  up to drainMs, unregisters the instrumentation, releases the hub.
// The agent's local queue store setting ("transport.qlink.local.queue.store") decides
// where the queue lives: "file" keeps it in a journal beside the agent's trace file until
// Orvex accepted each operation, "memory" keeps it in memory only.
#pragma once
#include <auralink/interfaces.h>

#include <memory>
#include <string>

#include "operation_queue.h"

class CIndicationSink;

class CListeningHost {
 public:
  // `forwarder` carries the queue on (the Orvex adapter in the program, a fake in tests);
  // it must outlive the host.
  explicit CListeningHost(OperationForwarder& forwarder, OperationQueueOptions options = {});
  ~CListeningHost();
  CListeningHost(const CListeningHost&) = delete;
  CListeningHost& operator=(const CListeningHost&) = delete;

  int Start(const std::string& agentName);
  void Stop(DWORD drainMs);
  OperationQueueCounts Counts() const;

  // The folder of the agent's journal: the folder of its trace file.
  static std::string QueueFolder(const std::string& agentName);
  // The file a run locks for its whole life, so that an agent has one run at a time:
  // "<agent>Queue.lock" in the queue folder. Taken with either store, since two runs
  // would also deliver every indication twice.
  static std::string LockPath(const std::string& agentName);
  static bool UsesFileStore(const std::string& agentName);

 private:
  OperationForwarder& forwarder_;
  OperationQueueOptions options_;
  std::unique_ptr<OperationQueue> queue_;
  std::unique_ptr<CIndicationSink> sink_;
  IHub* hub_ = nullptr;
  LONG subscription_ = 0;
  bool subscribed_ = false;
};
