// The sink the host subscribes: every indication of the agent becomes one queued
// operation. It runs on the listeners' polling threads, so it only queues and returns.
#pragma once
#include <auralink/hub_sink.h>

#include "operation_queue.h"

class CIndicationSink : public CHubSink {
 public:
  explicit CIndicationSink(OperationQueue& queue) : queue_(queue) {}
  // Frees both strings; 0 when the queue did not take the operation (it is closed, or its
  // journal could not be written), so that the indication fails and the listener keeps it.
  int HandleOperation(LONG operation, BSTR id, BSTR stream) override;

 private:
  OperationQueue& queue_;
};
