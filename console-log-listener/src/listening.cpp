// Methods run on the caller's thread and use only the trace, the configuration repository
// and the thread objects, none of which depend on a per-module framework state.
#include "listening.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/trace_utils.h>

#include <cstdlib>
#include <auralink/platform/text.h>

namespace {

constexpr const char* kComponent = "Marrowby:IListening";
constexpr const char* kLogComponent = "TNGEventListening";
constexpr LONG kMinimumRefreshTime = 30;
constexpr DWORD kValueSize = 260;

CTraceUtils* Trace() { return CTraceUtils::GetInstance(); }

bool ReadText(const std::string& key, const char* name, std::string& text) {
  char value[kValueSize] = "";
  DWORD size = kValueSize;
  if (!CConfRepositoryManager::GetInstance()->ReadStr(key.c_str(), name, nullptr, value, &size)) return false;
  text = value;
  return true;
}

}  // namespace

STDMETHODIMP CListening::Initialize(BSTR name) {
  Trace()->LogMsg(3, "Marrowby", "Called Initialize");
  agentName = auralink::platform::BstrToNarrow(name);
  const std::string logsKey = auralink::config::EventLogsKey(agentName);
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  repository->InitializeSubSetEnumeration(logsKey.c_str());
  char logName[kValueSize] = "";
  HRESULT result = S_OK;
  while (repository->EnumerateSubSet(logName, kValueSize)) {
    if (!AddLog(logsKey, logName)) {
      result = E_FAIL;
      break;
    }
  }
  repository->TerminateSubSetEnumeration();
  return result;
}

bool CListening::AddLog(const std::string& logsKey, const std::string& logName) {
  const std::string logKey = auralink::config::JoinKey(logsKey, logName);
  const char* log = logName.c_str();
  const char* agent = agentName.c_str();
  Trace()->LogMsg(1, kLogComponent, "Listening on the log %s will be instantiated (agent %s)", log, agent);

  std::string refreshText, lastRefresh, startMode, msgFilter;
  DWORD msgNr = 0;
  if (!ReadText(logKey, auralink::config::kRefreshTime, refreshText)) {
    Trace()->LogMsg(0, kLogComponent, "RefreshTime cannot be obtained for listening to log %s (agent %s)", log, agent);
    return false;
  }
  LONG refreshTime = std::atoi(refreshText.c_str());
  Trace()->LogMsg(1, kLogComponent, "RefreshTime for the log %s has been obtained (RefreshTime = %d, agent %s)", log,
                  static_cast<int>(refreshTime), agent);
  if (refreshTime < kMinimumRefreshTime) {
    refreshTime = kMinimumRefreshTime;
    Trace()->LogMsg(0, kLogComponent, "It was specified a too low refresh time for the log %s. It will be set to %d",
                    log, static_cast<int>(kMinimumRefreshTime));
  }
  if (!ReadText(logKey, auralink::config::kLastRefresh, lastRefresh)) {
    Trace()->LogMsg(0, kLogComponent, "LastRefreshedDate cannot be obtained for listening to log %s (agent %s)", log,
                    agent);
    return false;
  }
  Trace()->LogMsg(1, kLogComponent, "LastRefreshedDate for the log %s has been obtained (LastRefreshedDate = %s, agent %s)",
                  log, lastRefresh.c_str(), agent);
  if (!ReadText(logKey, auralink::config::kStartMode, startMode)) {
    Trace()->LogMsg(0, kLogComponent, "startMode value cannot be obtained for listening to log %s (agent %s)", log,
                    agent);
    return false;
  }
  Trace()->LogMsg(1, kLogComponent, "startMode value for the log %s has been obtained (startMode = %s, agent %s)", log,
                  startMode.c_str(), agent);
  if (!ReadText(logKey, auralink::config::kMsgFilter, msgFilter)) {
    Trace()->LogMsg(0, kLogComponent, "msgFilter value cannot be obtained for listening to log %s (agent %s)", log,
                    agent);
    return false;
  }
  Trace()->LogMsg(1, kLogComponent, "msgFilter value for the log %s has been obtained (msgFilter = %s, agent %s)", log,
                  msgFilter.c_str(), agent);
  DWORD size = kValueSize;
  if (!CConfRepositoryManager::GetInstance()->ReadNum(logKey.c_str(), auralink::config::kLastMsgNr, nullptr, &msgNr,
                                                      &size)) {
    Trace()->LogMsg(0, kLogComponent, "msgNr value cannot be obtained for listening to log %s (agent %s)", log, agent);
    return false;
  }
  Trace()->LogMsg(1, kLogComponent, "msgNr value for the log %s has been obtained (msgNr = %d, agent %s)", log,
                  static_cast<int>(msgNr), agent);

  Trace()->LogMsg(3, "CListening", "Instantiate a new thread for Event Listening, agent name: %s", agent);
  threads.push_back(std::make_unique<EventLogListening>(agentName, logName, refreshTime, std::move(lastRefresh),
                                                        std::move(startMode), std::move(msgFilter), msgNr));
  return true;
}

STDMETHODIMP CListening::Start() {
  Trace()->LogMsg(1, kComponent, "Called Start");
  for (auto& thread : threads) thread->Start();
  Trace()->LogMsg(1, kComponent, "Start issued.");
  return S_OK;
}

// Returns once every thread has left its loop, so that nothing of this object indicates
// after Stop (what the listening manager relies on). All are told first, so that they wind
// down together; the objects stay and can be started again.
STDMETHODIMP CListening::Stop() {
  Trace()->LogMsg(1, kComponent, "Called Stop");
  for (auto& thread : threads) thread->Stop();
  for (auto& thread : threads) thread->Join();
  return S_OK;
}

STDMETHODIMP CListening::Terminate() {
  Trace()->LogMsg(1, kComponent, "Called Terminate");
  // Every thread is told first, so that they all wind down together; each object is then
  // destroyed once its thread has left its loop.
  for (auto& thread : threads) thread->Stop();
  threads.clear();
  return S_OK;
}
