#include "adapter_forwarder.h"

#include <windows.h>
#include <atlbase.h>
#include <auralink/processing_manager.h>
#include <objbase.h>

int AdapterForwarder::Begin() {
  comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  if (!comInitialized_) return 0;
  adapter_.SetAgentName(agentName_);
  return adapter_.Initialize(0, "");
}

int AdapterForwarder::Forward(const QueuedOperation& operation) {
  // HandleOperation takes over both strings.
  return adapter_.HandleOperation(operation.operation, CComBSTR(std::string_view(operation.id)).Detach(),
                                  CComBSTR(std::string_view(operation.stream)).Detach());
}

void AdapterForwarder::Finish() {
  if (adapter_.IsInitialized()) adapter_.Terminate();
  if (!comInitialized_) return;
  // The agent's processing class was created on this thread; it goes before COM does.
  CProcessingManager::GetInstance()->Shutdown();
  CoUninitialize();
  comInitialized_ = false;
}
