// Registration with Orvex: Initialize obtains, authenticates and registers the Java
// adapter; Terminate unregisters.
#include "orvex_adapter.h"

#include <windows.h>
#include <atlbase.h>
#include <auralink/operation_codes.h>
#include <auralink/trace_utils.h>
#include <windows.h>

#include "adapter_constants.h"
#include "exception_text.h"
#include "java_bridge.h"
#include "orvex_settings_access.h"

using auralink::orvex::CurrentExceptionText;
using auralink::orvex::kAdapterComponent;

int COrvexAdapter::Initialize(int mode, const std::string& modeFile) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  SetLoggingOptions(mode, modeFile);
  if (!ReadSettings()) return 0;

  trace->LogMsg(0, kAdapterComponent, "Getting a Orvex adapter instance");
  try {
    bridge = JavaBridge::GetInstance(configFilePath);
    trace->LogMsg(0, kAdapterComponent, "The adapter instance has been successfully gotten");
  } catch (...) {
    // The configuration file stays for the operator to inspect.
    trace->LogMsg(0, kAdapterComponent, "Unable to get adapter instance. Exception thrown: %s",
                  CurrentExceptionText().c_str());
    return 0;
  }
  DeleteFile(configFilePath.c_str());

  trace->LogMsg(0, kAdapterComponent, "Authenticating");
  try {
    bridge->authenticate(authenticationSign, authenticationCertificate);
    trace->LogMsg(0, kAdapterComponent, "Authenticate successfully");
  } catch (...) {
    trace->LogMsg(0, kAdapterComponent, "Unable to authenticate. Exception thrown: %s", CurrentExceptionText().c_str());
    return 0;
  }

  trace->LogMsg(2, kAdapterComponent, "Registering with %d classe(s) and %d link type(s)",
                static_cast<int>(supportedClasses.size()), static_cast<int>(supportedLinkTypes.size()));
  for (const std::string& name : supportedClasses)
    trace->LogMsg(3, kAdapterComponent, "Passing class %s to the adapter", name.c_str());
  for (const std::string& type : supportedLinkTypes)
    trace->LogMsg(3, kAdapterComponent, "Passing link type %s to the adapter", type.c_str());
  trace->LogMsg(0, kAdapterComponent, "Registering instrumentation");
  try {
    using namespace auralink::orvex;
    instrumentationId = bridge->registerInstrumentation(
        instrumentationName, SUPPORTS_BULK + SUPPORTS_DELTA + SUPPORTS_EVENTS, supportedClasses, supportedLinkTypes);
    trace->LogMsg(0, kAdapterComponent, "The instrumentation has been successfully registered");
  } catch (...) {
    trace->LogMsg(0, kAdapterComponent, "Unable to register the instrumentation. Exception thrown:  %s",
                  CurrentExceptionText().c_str());
    return 0;
  }
  initialized = 1;

  // The agent's processing class learns that the instrumentation is registered.
  HandleOperation(auralink::REGISTRATIONNOTICE, CComBSTR("-").Detach(), CComBSTR("-").Detach());
  return 1;
}

int COrvexAdapter::Terminate() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!initialized) {
    trace->LogMsg(0, kAdapterComponent, "Adapter wasn't initialized. Terminate cannot be executed");
    return 0;
  }
  trace->LogMsg(0, kAdapterComponent, "Unregistering instrumentation");
  try {
    bridge->unregisterInstrumentation(instrumentationId);
  } catch (...) {
    trace->LogMsg(0, kAdapterComponent, "Unable to unregister the instrumentation. Exception thrown:  %s",
                  CurrentExceptionText().c_str());
    return 0;
  }
  trace->LogMsg(0, kAdapterComponent, "The instrumentation has been successfully unregistered");
  Sleep(1000);  // gives the transport time to carry the unregistration out
  initialized = 0;
  return 1;
}
