#include "event_log_listening.h"

#include <auralink/config_keys.h>
#include <auralink/hub_components.h>
#include <auralink/trace_utils.h>

EventLogListening::EventLogListening(std::string agentName, const std::string& logName, LONG refreshTime,
                                     std::string lastRefresh, std::string startMode, std::string msgFilter,
                                     DWORD msgNr)
    : LogPollThrd(auralink::config::EventLogKey(agentName, logName), refreshTime, std::move(lastRefresh),
                  std::move(startMode), std::move(msgFilter), msgNr),
      agentName(std::move(agentName)) {}

// The thread calls OnLogEvent, which this class supplies: it must have ended before the
// derived part goes.
EventLogListening::~EventLogListening() { EndThread(); }

int EventLogListening::OnLogEvent(short operation, const std::string& opDummyStream, const std::string& opStream) {
  CTraceUtils::GetInstance()->LogMsg(3, "EventLogListening", "Operation %d (opDummyStream: %s, opStream: %s)",
                                     static_cast<int>(operation), opDummyStream.c_str(), opStream.c_str());
  return CListeningManager::GetInstance()->Indicate(agentName.c_str(), operation, opDummyStream.c_str(),
                                                   opStream.c_str());
}
