// EventLogListening: the polling thread of one console log of an agent. It hands every
// event to the hub's listening manager under the agent's name and keeps its progress under
// the log's own configuration key.
#pragma once
#include <string>

#include "log_poll_thread.h"

class EventLogListening : public LogPollThrd {
 public:
  EventLogListening(std::string agentName, const std::string& logName, LONG refreshTime, std::string lastRefresh,
                    std::string startMode, std::string msgFilter, DWORD msgNr);
  ~EventLogListening() override;

  // The listening manager's answer: 0 when the event reached no sink or a sink refused it.
  int OnLogEvent(short operation, const std::string& opDummyStream, const std::string& opStream) override;

 private:
  const std::string agentName;
};
