#include "discoverer.h"

#include <windows.h>
#include <atlbase.h>
#include <auralink/guids.h>
#include <auralink/hub_components.h>
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>
#include <auralink/processing_manager.h>
#include <auralink/trace_utils.h>
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <auralink/platform/text.h>

namespace {

constexpr const char* kComponent = "Discoverer";

void Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

int CDiscoverer::ParseCommandLine(int argumentCount, char** arguments, int firstIndex) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(3, kComponent, "Parsing command line options");
  if (argumentCount <= firstIndex) {
    trace->LogMsg(2, kComponent, "No options specified. All instances will be discovered with normal slowing time.");
    return 1;
  }
  // A position at or past the end reads as empty, so an option that stands last without
  // its value never reads beyond the argument list and leaves the line invalid.
  auto token = [&](int index) -> std::string {
    return index >= 0 && index < argumentCount && arguments[index] ? arguments[index] : "";
  };
  int i = firstIndex;
  const std::string first = token(i);
  if (first != "-id" && first != "-c" && first != "-ps" && first != "-log" && first != "-verbose") return 0;

  // An empty identifier or class name would leave the run unrestricted: a mistyped or
  // unset value must not turn a one-object run into a full discovery.
  if (first == "-id") {
    instanceId = token(i + 1);
    if (instanceId.empty()) {
      trace->LogMsg(0, kComponent, "An empty instance id has been specified");
      return 0;
    }
    i += 2;
    trace->LogMsg(2, kComponent, "Requested to only discover the instance with id %s", instanceId.c_str());
  } else {
    if (token(i) == "-c") {
      className = token(i + 1);
      if (className.empty()) {
        trace->LogMsg(0, kComponent, "An empty class name has been specified");
        return 0;
      }
      i += 2;
      trace->LogMsg(2, kComponent, "Requested to only discover instances of the class %s", className.c_str());
    }
    if (token(i) == "-ps") {
      const std::string speed = LowerCase(token(i + 1));
      if (speed == "maximum") {
        slowingTime = 500;
        trace->LogMsg(2, kComponent, "Slowing Time has been set to Maximum");
      } else if (speed == "normal") {
        slowingTime = 100;
        trace->LogMsg(2, kComponent, "Slowing Time has been set to Normal");
      } else if (speed == "minimum") {
        slowingTime = 0;
        trace->LogMsg(2, kComponent, "Slowing Time has been set to Minimum");
      } else {
        trace->LogMsg(0, kComponent, "Wrong slowing time has been specified");
        return 0;
      }
      i += 2;
    }
  }
  if (token(i) == "-log") {
    loggingMode = 1;
    trace->LogMsg(2, kComponent, "Logging mode has been set to TRUE");
    i += 1;
    if (token(i) == "-lf") {
      loggingModeFile = token(i + 1);
      i += 2;
      trace->LogMsg(2, kComponent, "Log file has been set to %s", loggingModeFile.c_str());
    }
  }
  if (token(i) == "-verbose") {
    verbose = 1;
    trace->LogMsg(2, kComponent, "Verbose mode has been set to TRUE");
    i += 1;
  }
  return i == argumentCount ? 1 : 0;
}

int CDiscoverer::Initialize(std::string agent, std::string list) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(3, kComponent, "Instantiating the Hub ...");
  if (FAILED(CoCreateInstance(CLSID_TouchpointHub, nullptr, CLSCTX_INPROC_SERVER, IID_IHub,
                              reinterpret_cast<void**>(&hub))) ||
      !hub) {
    hub = nullptr;
    trace->LogMsg(0, kComponent, "Unable to instantiate the Hub. Discovery cannot be executed");
    return 0;
  }
  trace->LogMsg(0, kComponent, "The Hub has been successfully instanced.");
  CComBSTR wideAgent(agent);
  trace->LogMsg(0, kComponent, "Setting the agent name %s on the Hub interface.", agent.c_str());
  hub->SetAgentName(wideAgent);
  agentName = std::move(agent);
  listName = std::move(list);
  adapter.SetAgentName(agentName);
  return adapter.Initialize(loggingMode, loggingModeFile);
}

int CDiscoverer::Discover() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (agentName.empty() || listName.empty()) {
    trace->LogMsg(0, kComponent, "Discovery cannot be executed");
    return 0;
  }
  Print("Executing discovery. Be aware that this can take several minutes.\n");
  CComBSTR classPath(className);
  LONG count = 0;
  auralink::PayloadArray ids;
  if (instanceId.empty()) {
    SAFEARRAY* parameterSet = nullptr;
    HRESULT hr = hub->EnumInstances(classPath, 0, &parameterSet, &count, ids.Receive());
    if (FAILED(hr)) {
      trace->LogMsg(0, kComponent, "Unable to enumerate instances (hres %u)", static_cast<unsigned>(hr));
      return 0;
    }
    Print("Discovery process will take place on " + std::to_string(count) + " objects\n");
    trace->LogMsg(2, kComponent, "Enumerate instances successfully. Iterating through instances");
  } else {
    ids.Reset(auralink::CreatePayloadArray(1));
    if (!ids || FAILED(auralink::PutStringElement(ids.Get(), 0, instanceId.c_str()))) {
      trace->LogMsg(0, kComponent, "Unable to create the array that will contain the instance ids.");
      return 0;
    }
    count = 1;
  }

  trace->LogMsg(0, kComponent, "Initialize discovery");
  const bool delta = !className.empty() || !instanceId.empty();
  trace->LogMsg(0, kComponent, delta ? "Set discovery to delta" : "Set discovery to bulk");
  if (!adapter.BeginDiscovery(delta ? 1 : 0)) {
    trace->LogMsg(0, kComponent, "Unable to initialize discovery");
    return 0;
  }
  trace->LogMsg(3, kComponent, "It was discovered %u instances", static_cast<unsigned>(count));

  LONG ok = 0;
  LONG failed = 0;
  // Each identifier goes from the array to the hub and the adapter as the BSTR it is; it
  // becomes narrow text only for the console.
  for (LONG k = 0; k < count; ++k) {
    CComBSTR wideId;
    HRESULT hr = auralink::GetBstrElement(ids.Get(), k, &wideId);
    if (FAILED(hr)) {
      trace->LogMsg(0, kComponent, "Unable to get the %dth instanceId (hres %u)", static_cast<int>(k), static_cast<unsigned>(hr));
      Print("\nZLT0002E - Unable to get object with id \n");
      ++failed;
      Sleep(static_cast<DWORD>(slowingTime));
      continue;
    }
    trace->LogMsg(1, kComponent, "Getting the instance with id %S", wideId.m_str);
    Print(verbose ? "Object number " + std::to_string(k + 1) + "/" + std::to_string(count) + ": id -> " +
                        wideId.ToNarrow() + "\n"
                  : ".");
    BSTR instance = nullptr;
    SAFEARRAY* parameterSetList = nullptr;
    hr = hub->GetInstance(wideId, 0, &parameterSetList, &instance);
    if (FAILED(hr)) {
      SysFreeString(instance);
      trace->LogMsg(0, kComponent, "Unable to get the instance with id %S (hres %u)", wideId.m_str,
                    static_cast<unsigned>(hr));
      ++failed;
      Print("\nZLT0002E - Unable to get object with id " + wideId.ToNarrow() + "\n");
    } else {
      trace->LogMsg(2, kComponent, "The instance with id %S has been gotten successfully (instance -> %S)",
                    wideId.m_str, instance ? instance : L"");
      // The handler owns both strings it is given (a copy of the identifier, which the
      // messages below still need).
      if (!adapter.HandleOperation(auralink::INSTANCECREATION, wideId.Copy(), instance)) {
        trace->LogMsg(0, kComponent, "Unable to forward the instance with id %S to OrvexAdapter", wideId.m_str);
        Print("\nZLT0003E - Unable to send object with id " + wideId.ToNarrow() + "\n");
        ++failed;
      } else {
        Print(verbose ? "Object number " + std::to_string(k + 1) + " processed\n" : ".");
        ++ok;
      }
    }
    Sleep(static_cast<DWORD>(slowingTime));
  }
  if (!verbose) Print("\n");
  Print(std::to_string(ok) + " objects successfully discovered\n" + std::to_string(failed) + " objects failed\n");
  ids.Reset();
  // A discovery Orvex did not commit is not a success, whatever reached it before.
  return adapter.CommitDiscovery() ? 1 : 0;
}

int CDiscoverer::Terminate() {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  trace->LogMsg(3, kComponent, "Terminate. Releasing Hub ...");
  if (hub) hub->Release();
  hub = nullptr;
  trace->LogMsg(0, kComponent, "The Hub has been released");
  // The agent objects behind the hub hold the repository connection: end them before the
  // process leaves COM.
  CDiscoveryManager::GetInstance()->Shutdown();
  CProcessingManager::GetInstance()->Shutdown();
  return adapter.Terminate();
}
