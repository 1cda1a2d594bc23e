// Carries queued operations to Orvex through the adapter bridge. Everything it does runs
// on the queue's forwarding thread: that thread initialises COM, starts the Java VM (the
// adapter's Initialize), makes every Java call, and unregisters at the end, so no other
// thread of the process ever calls into Java.
#pragma once
#include <string>

#include "operation_queue.h"
#include "orvex_adapter.h"

class AdapterForwarder : public OperationForwarder {
 public:
  explicit AdapterForwarder(std::string agentName) : agentName_(std::move(agentName)) {}

  // COM for the processing manager, then the adapter's settings, VM and registration.
  int Begin() override;
  int Forward(const QueuedOperation& operation) override;
  // Unregisters the instrumentation and ends this thread's COM use.
  void Finish() override;

 private:
  std::string agentName_;
  COrvexAdapter adapter_;
  bool comInitialized_ = false;
};
