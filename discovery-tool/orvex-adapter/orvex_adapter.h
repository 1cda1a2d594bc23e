// COrvexAdapter: where the system meets Orvex. It reads its agent's Orvex settings, writes
// the adapter configuration file, obtains the Java adapter through the JavaBridge,
// authenticates and registers the agent's instrumentation, and then turns every object it
// is handed (a discovered instance, or an item indicated to it as a sink) into Orvex
// operations: the processing manager makes the XML streams, and each one goes to the
// matching Java call.
//
// Protocol:
//   SetAgentName(agent) once, then Initialize(loggingMode, loggingModeFile): settings,
//   configuration file, Java adapter, authentication, registration; 1 when registered.
//   Then any number of BeginDiscovery / HandleOperation / CommitDiscovery (and forwarding
//   calls); every call made before a successful Initialize answers 0 and makes no Java
//   call. Terminate() unregisters. The Java VM and adapter live until the process ends.
//
// Results are 1 (success) or 0 (failure); every failure writes a trace line of the
// component "OrvexAdapter". Not thread-safe: one thread at a time, as the object's owner
// (a driver, or a sink fed by one apartment) calls it.
#pragma once
#include <auralink/hub_sink.h>
#include <windows.h>
#include <windef.h>

#include <string>
#include <string_view>
#include <vector>

class JavaBridge;

class COrvexAdapter : public CHubSink {
 public:
  COrvexAdapter() = default;
  ~COrvexAdapter() override = default;

  // ---- Settings and configuration file ---------------------------------------------
  void SetAgentName(const std::string& name) { agentName = name; }
  // The command line's -log and -lf (0 and empty when not given); Initialize sets them.
  void SetLoggingOptions(int mode, const std::string& modeFile) {
    loggingMode = mode;
    loggingModeFile = modeFile;
  }
  // Reads the instrumentation, adapter and transport settings and writes the adapter
  // configuration file. 0 when a required value is missing or the file cannot be written.
  int ReadSettings();
  // The official name of the local host, or the computer name when it cannot be resolved.
  std::string GetLocalHostName();
  int WriteAdapterConf();

  // ---- Registration with Orvex -----------------------------------------------------
  int Initialize(int loggingMode, const std::string& loggingModeFile);
  int Terminate();

  // ---- Operations ------------------------------------------------------------------
  // One object of the agent: code 8 begins and 9 commits a discovery; any other code goes
  // through the processing manager (7, a listener's event, as 12) and each operation it
  // returns is forwarded. Owns and frees `id` and `instanceText`. After the first failing
  // forward the rest are traced but not sent, and the result is 0.
  int HandleOperation(LONG operation, BSTR id, BSTR instanceText) override;
  // The forwarding calls take an XML stream as the wide text the processing class made.
  // `delta`: 0 bulk, 1 delta. Answers 1 without a Java call while a discovery is open.
  int BeginDiscovery(int delta);
  int CommitDiscovery();
  int AddInstance(std::wstring_view text);
  int UpdateInstance(std::wstring_view text);
  int DeleteInstance(std::wstring_view text);
  int AddLink(std::wstring_view text);
  int DeleteLink(std::wstring_view text);
  int SendEvent(std::wstring_view text);

  // ---- State, for the owner and for tests -------------------------------------------
  const std::string& ConfigFilePath() const { return configFilePath; }
  const std::string& InstrumentationId() const { return instrumentationId; }
  const std::vector<std::string>& SupportedClasses() const { return supportedClasses; }
  const std::vector<std::string>& SupportedLinkTypes() const { return supportedLinkTypes; }
  bool IsInitialized() const { return initialized != 0; }
  bool IsDiscoveryOpen() const { return discoveryOpen != 0; }

 private:
  struct ForwardingCall;
  int ReadInstrumentationSettings(const std::string& subset);
  int LoadSupportedClasses();
  int ReadAdapterSettings(const std::string& subset);
  int ReadTransportSettings(const std::string& subset);
  // The pattern the six forwarding calls share.
  int Forward(const ForwardingCall& call, std::wstring_view text);

  std::string agentName;
  std::vector<std::string> supportedClasses;
  std::vector<std::string> supportedLinkTypes;
  std::string configFilePath;
  std::string instrumentationName;
  std::string authenticationSign;
  std::string authenticationCertificate;
  std::string loggingModeFile;
  std::string xmlValidation;
  std::string transportClassName;
  std::string localAddress;
  std::string requestAddress;
  std::string responseAddress;
  LONG requestPort = 0;
  LONG responsePort = 0;
  std::string localQueueStore;
  std::string remoteQueueStore;
  std::string useFiller;
  std::string fileRegistry;
  LONG maxChannels = 1;
  std::string serverQueueAddress;
  LONG serverPort = 0;
  std::string serverAddress;
  std::string proxyQueueAddress;
  LONG proxyPort = 0;
  std::string proxyAddress;

  int initialized = 0;
  int loggingMode = 0;
  int discoveryOpen = 0;
  JavaBridge* bridge = nullptr;
  std::string instrumentationId;
  int responseWait = 0;
};
