#include "listening_host.h"

#include <windows.h>
#include <atlbase.h>
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/guids.h>
#include <auralink/hub_components.h>
#include <auralink/trace_utils.h>
#include <objbase.h>
#include <strings.h>

#include "indication_sink.h"

namespace {

constexpr const char* kComponent = "ListeningHost";
namespace config = auralink::config;

std::string ReadAgentString(const std::string& keyPath, const char* name, const std::string& fallback) {
  char value[260] = {};
  DWORD type = 0;
  DWORD size = sizeof value;
  if (!CConfRepositoryManager::GetInstance()->ReadStr(keyPath.c_str(), name, &type, value, &size)) return fallback;
  return value;
}

// The name the queue's files share.
std::string QueueName(const std::string& agentName) { return agentName + "Queue"; }

}  // namespace

CListeningHost::CListeningHost(OperationForwarder& forwarder, OperationQueueOptions options)
    : forwarder_(forwarder), options_(options) {}

CListeningHost::~CListeningHost() { Stop(0); }

std::string CListeningHost::QueueFolder(const std::string& agentName) {
  std::string logFileName = ReadAgentString(config::AgentKey(agentName), config::kLogFileName, "");
  if (logFileName.empty()) {
    char program[260] = {};
    GetModuleFileName(nullptr, program, sizeof program);
    logFileName = program;
  }
  const size_t slash = logFileName.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : logFileName.substr(0, slash);
}

std::string CListeningHost::LockPath(const std::string& agentName) {
  return QueueFolder(agentName) + "/" + QueueName(agentName) + ".lock";
}

bool CListeningHost::UsesFileStore(const std::string& agentName) {
  const std::string store =
      ReadAgentString(config::AdapterKey(agentName), config::kTransportLocalQueueStore, config::kDefaultQueueStore);
  // Anything but "memory" keeps the queue on disk: losing operations is the worse mistake.
  return strcasecmp(store.c_str(), "memory") != 0;
}

int CListeningHost::Start(const std::string& agentName) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  std::unique_ptr<OperationJournal> journal;
  if (UsesFileStore(agentName)) {
    journal = std::make_unique<OperationJournal>(QueueFolder(agentName), QueueName(agentName));
    trace->LogMsg(2, kComponent, "Queued operations are kept in %s", journal->JournalPath().c_str());
  } else {
    trace->LogMsg(2, kComponent, "Queued operations are kept in memory");
  }
  queue_ = std::make_unique<OperationQueue>(std::move(journal), options_);
  if (!queue_->Start(&forwarder_)) {
    trace->LogMsg(0, kComponent, "The forwarding to Orvex could not be started");
    queue_.reset();
    return 0;
  }

  sink_ = std::make_unique<CIndicationSink>(*queue_);
  if (FAILED(CoCreateInstance(CLSID_TouchpointHub, nullptr, CLSCTX_INPROC_SERVER, IID_IHub,
                              reinterpret_cast<void**>(&hub_))) ||
      !hub_) {
    hub_ = nullptr;
    trace->LogMsg(0, kComponent, "Unable to instantiate the Hub");
    Stop(0);
    return 0;
  }
  hub_->SetAgentName(CComBSTR(agentName.c_str()));
  if (FAILED(hub_->Subscribe(sink_.get(), &subscription_))) {
    trace->LogMsg(0, kComponent, "Unable to subscribe for the indications of %s", agentName.c_str());
    Stop(0);
    return 0;
  }
  subscribed_ = true;
  trace->LogMsg(0, kComponent, "Listening for the indications of %s", agentName.c_str());
  return 1;
}

void CListeningHost::Stop(DWORD drainMs) {
  // The listeners stop before the queue closes, so nothing is indicated into a closed queue.
  if (subscribed_) {
    hub_->Unsubscribe(subscription_);
    subscribed_ = false;
  }
  if (hub_) {
    hub_->Release();
    hub_ = nullptr;
  }
  if (queue_) {
    queue_->Close(drainMs);
    const OperationQueueCounts counts = queue_->Counts();
    CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Stopped: received %llu, forwarded %llu, queued %llu",
                                       counts.received, counts.forwarded, counts.queued);
  }
  sink_.reset();
  queue_.reset();
  CDiscoveryManager::GetInstance()->Shutdown();
}

OperationQueueCounts CListeningHost::Counts() const { return queue_ ? queue_->Counts() : OperationQueueCounts{}; }
