// COrvexAdapter before any Java VM: the settings it reads, the configuration file it
// writes for the Java adapter, the calls it refuses before Initialize, where it looks
// for the Java VM, and what its exception lines show.
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>

#include "adapter_exception.h"
#include "adapter_test_agent.h"
#include "exception_text.h"
#include "jvm_library.h"
#include "orvex_adapter.h"
#include <auralink/platform/error_text.h>
#include <auralink/platform/module_path.h>

using auralink::platform::JoinPath;
using auralink::testing::TestSandbox;
namespace config = auralink::config;
namespace orvex_test = orvex::testing;

namespace {

constexpr const char* kAgent = "QuillonLst";

// The configuration file is written in text mode, so its lines end as this system's text
// files do (the Java adapter reads either).
#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

// `text` with each "\n" turned into the line end of the configuration file, and back.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}
std::string WithFileLineEnds(const std::string& text) { return Replaced(text, "\n", kLineEnd); }
std::string WithoutFileLineEnds(const std::string& text) { return Replaced(text, kLineEnd, "\n"); }

class AdapterSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRemapper::GetInstance()->Reset();
    CTraceUtils::GetInstance()->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, -1);
    orvex_test::WriteAgentSettings(kAgent, sandbox.Dir());
    adapter.SetAgentName(kAgent);
  }
  void TearDown() override { CTraceUtils::GetInstance()->Close(); }

  std::string Trace() const { return TestSandbox::ReadFile(sandbox.TraceFile()); }
  bool Traced(const std::string& text) const { return Trace().find(text) != std::string::npos; }
  std::string ConfigFile() const { return JoinPath(sandbox.Dir(), std::string(kAgent) + "Adapter.conf"); }

  // The "key = value" lines of the configuration file.
  std::map<std::string, std::string> Properties() const {
    std::map<std::string, std::string> properties;
    std::istringstream lines(WithoutFileLineEnds(TestSandbox::ReadFile(ConfigFile())));
    std::string line;
    while (std::getline(lines, line)) {
      const std::size_t equals = line.find(" = ");
      if (line.rfind("  ", 0) == 0 && equals != std::string::npos)
        properties[line.substr(2, equals - 2)] = line.substr(equals + 3);
    }
    return properties;
  }
  void SetAdapterString(const char* name, const char* value) {
    CConfRepositoryManager::GetInstance()->SetStr(config::AdapterKey(kAgent).c_str(), name, value);
  }

  TestSandbox sandbox;
  COrvexAdapter adapter;
};

TEST_F(AdapterSettingsTest, TheConfigurationFileCarriesEveryLineWithTheDefaults) {
  ASSERT_EQ(adapter.ReadSettings(), 1) << Trace();
  EXPECT_EQ(adapter.ConfigFilePath(), ConfigFile());
  const std::string host = adapter.GetLocalHostName();
  const std::string folder = sandbox.Dir();
  const std::string expected =
      "  adapter.type = LocalAdapter\n\n"
      "# ADAPTER WORKING DIRECTORY\n"
      "#   This is the directory where the Adapter will write its files\n"
      "#   The default value is:  adapter.working.dir  = .\n\n"
      "  adapter.working.dir = " + folder + "\n"
      "  soap.envelope = <SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\\n\\t<SOAP-ENV:Body>\n\n"
      "# LOGGING MODE PROPERTIES\n\n"
      "  loggingmode.default = false\n"
      "  loggingmode.filename = QuillonLst_LoggingModeFile.log\n\n"
      "# TRACE PROPERTIES:\n"
      "#   The file for the trace output\n\n"
      "  trace.filename = Adapter_QuillonLst.log\n\n"
      "#   This key is set true if the logger is enabled (on) or false if\n"
      "#   the logger is disabled (off).\n\n"
      "  adapter.trace.enable = true\n"
      "  transport.trace.enable = true\n\n"
      "#   This key can be low, medium or high:\n"
      "#      low    = errors, exceptions and warnings\n"
      "#      medium = low plus info and object creation\n"
      "#      high   = methods entry/exit\n\n"
      "  adapter.trace.level = low\n"
      "  transport.trace.level = low\n\n"
      "# VALIDATING PROPERTY:\n"
      "#   This key is set true if the xml validation is enabled (on)\n\n"
      "  adapter.xml.validation = false\n\n"
      "# transport base properties\n\n"
      "  transport.class.name = com.kestrova.hubrelay.transport.qlink.client.ClientTransportQlink\n"
      "  transport.local.ip.address = " + host + "\n"
      "  transport.request.address = " + host + ".QUILLONLST.QM+QUILLONLST.Q\n"
      "  transport.request.port = 4100\n"
      "  transport.response.address = " + host + ".QUILLONLST.QM+QUILLONLST.Q\n"
      "  transport.response.port = 4100\n\n"
      "# Qlink transport properties\n\n"
      "# queue store: this key can be file or memory\n\n"
      "  transport.qlink.local.queue.store = file\n"
      "  transport.qlink.remote.queue.store = file\n"
      "  transport.qlink.usefiller = false\n"
      "  transport.qlink.fileregistry = com.hollin.qlink.registry.QlinkFileSession\n"
      "  transport.qlink.maxchannels = 1\n\n"
      "# only for client\n\n"
      "# server\n"
      "  transport.server.qlink.address = ServerQM+ServerQ\n"
      "  transport.server.qlink.port = 4200\n"
      "  transport.server.ip.address = orvex.example\n\n"
      "# proxy\n"
      "  transport.proxy.qlink.address = " + host + "ProxyQM+ProxyQ\n"
      "  transport.proxy.qlink.port = 0\n"
      "  transport.proxy.ip.address = " + host + "\n\n";
  EXPECT_EQ(TestSandbox::ReadFile(ConfigFile()), WithFileLineEnds(expected));
  EXPECT_TRUE(Traced("Warning: the default logging mode has not been specified. It will be set to FALSE"));
  EXPECT_TRUE(Traced("Generated configuration file " + ConfigFile() + " for Orvex Adapter"));
}

TEST_F(AdapterSettingsTest, StoredSettingsReplaceTheDefaults) {
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();
  const std::string adapterKey = config::AdapterKey(kAgent);
  repository->SetNum(adapterKey.c_str(), config::kTransportResponsePort, 4101);
  repository->SetNum(adapterKey.c_str(), config::kTransportProxyQlinkPort, 8080);
  SetAdapterString(config::kTransportLocalAddress, "host1");
  SetAdapterString(config::kTransportLocalQueueStore, "memory");
  SetAdapterString(config::kTransportProxyAddress, "proxy.example");
  SetAdapterString(config::kAdapterXmlValidation, "true");
  SetAdapterString(config::kLoggingModeFileName, "stored.log");
  ASSERT_EQ(adapter.ReadSettings(), 1) << Trace();
  auto properties = Properties();
  EXPECT_EQ(properties["transport.request.address"], "host1.QUILLONLST.QM+QUILLONLST.Q");
  EXPECT_EQ(properties["transport.response.address"], "host1.QUILLONLST.QM+QUILLONLST.Q");
  EXPECT_EQ(properties["transport.response.port"], "4101");
  EXPECT_EQ(properties["transport.proxy.qlink.port"], "8080");
  EXPECT_EQ(properties["transport.qlink.local.queue.store"], "memory");
  EXPECT_EQ(properties["transport.proxy.ip.address"], "proxy.example");
  EXPECT_EQ(properties["adapter.xml.validation"], "true");
  EXPECT_EQ(properties["loggingmode.filename"], "stored.log");
  // The proxy queue is named after the host, not after the stored local address.
  EXPECT_EQ(properties["transport.proxy.qlink.address"], adapter.GetLocalHostName() + "ProxyQM+ProxyQ");
}

TEST_F(AdapterSettingsTest, TheTraceLevelWordFollowsTheStoredLevel) {
  const std::map<DWORD, std::string> words = {{0, "low"}, {1, "low"}, {2, "medium"}, {7, "high"}, {0xFFFFFFFFu, "high"}};
  for (const auto& [level, word] : words) {
    CConfRepositoryManager::GetInstance()->SetNum(config::kRootKey, config::kTraceLevel, level);
    ASSERT_EQ(adapter.WriteAdapterConf(), 1);
    auto properties = Properties();
    EXPECT_EQ(properties["adapter.trace.level"], word) << level;
    EXPECT_EQ(properties["transport.trace.level"], word) << level;
  }
}

TEST_F(AdapterSettingsTest, LoggingModeComesFromTheCommandLineOrAStoredTrueInAnyLetterCase) {
  SetAdapterString(config::kLoggingModeDefault, "false");
  adapter.SetLoggingOptions(1, "given.log");  // -log -lf given.log
  ASSERT_EQ(adapter.ReadSettings(), 1);
  EXPECT_EQ(Properties()["loggingmode.default"], "true");
  EXPECT_EQ(Properties()["loggingmode.filename"], "given.log");
  EXPECT_FALSE(Traced("Logging mode has been set to"));  // the stored value was not read

  SetAdapterString(config::kLoggingModeDefault, "TrUe");
  COrvexAdapter stored;
  stored.SetAgentName(kAgent);
  ASSERT_EQ(stored.ReadSettings(), 1);
  EXPECT_EQ(Properties()["loggingmode.default"], "true");
  EXPECT_TRUE(Traced("Logging mode has been set to TRUE"));

  SetAdapterString(config::kLoggingModeDefault, "yes");
  COrvexAdapter other;
  other.SetAgentName(kAgent);
  ASSERT_EQ(other.ReadSettings(), 1);
  EXPECT_EQ(Properties()["loggingmode.default"], "false");
  EXPECT_TRUE(Traced("Logging mode has been set to FALSE"));
}

TEST_F(AdapterSettingsTest, EachMissingRequiredSettingFailsWithItsOwnLine) {
  struct Missing {
    std::string key;
    const char* name;
    const char* line;
  };
  const std::string instrumentation = config::InstrumentationKey(kAgent);
  const std::string adapterKey = config::AdapterKey(kAgent);
  const Missing cases[] = {
      {instrumentation, config::kInstrumentationName, "Unable to get the instrumentation name"},
      {instrumentation, config::kInstrumentationSign, "Unable to get the instrumentation's authentication sign"},
      {instrumentation, config::kInstrumentationCertificate,
       "Unable to get the instrumentation's authentication certificate"},
      {instrumentation, config::kInstrumentationClassesFile,
       "Unable to get the name of the file containing the list of supported classes"},
      {adapterKey, config::kTransportRequestPort, "Unable to get the transport.request.port parameter"},
      {adapterKey, config::kTransportServerQlinkPort, "Unable to get the transport.server.qlink.port parameter"},
      {adapterKey, config::kTransportServerAddress, "Unable to get the transport.server.ip.address parameter"},
  };
  for (const Missing& missing : cases) {
    CRemapper::GetInstance()->Reset();
    orvex_test::WriteAgentSettings(kAgent, sandbox.Dir());
    orvex_test::RemoveSetting(missing.key, missing.name);
    std::filesystem::remove(ConfigFile());
    COrvexAdapter fresh;
    fresh.SetAgentName(kAgent);
    EXPECT_EQ(fresh.ReadSettings(), 0) << missing.name;
    EXPECT_TRUE(Traced(missing.line)) << missing.name;
    EXPECT_FALSE(std::filesystem::exists(ConfigFile())) << missing.name;
  }
  EXPECT_TRUE(Traced("Settings missing or damaged. Communication to the Orvex Hubrelay cannot be established"));

  // A supported-classes file that cannot be read fails the same way.
  CRemapper::GetInstance()->Reset();
  orvex_test::WriteAgentSettings(kAgent, sandbox.Dir());
  std::filesystem::remove(sandbox.Path(std::string(kAgent) + ".classes"));
  EXPECT_EQ(adapter.ReadSettings(), 0);
  EXPECT_TRUE(Traced("Unable to get list of supported classes and links"));
}

TEST_F(AdapterSettingsTest, OrvexClassesAreRegisteredOnceEachInTheOrderFirstSeen) {
  ASSERT_EQ(adapter.ReadSettings(), 1);
  // Source classes in name order: IpNetwork, IpSubnet, UnixServer, WindowsServer.
  EXPECT_EQ(adapter.SupportedClasses(), (std::vector<std::string>{"Network", "Subnet", "ComputerSystem"}));
  EXPECT_EQ(adapter.SupportedLinkTypes(), (std::vector<std::string>{"PartOf", "MemberOf"}));
}

TEST_F(AdapterSettingsTest, TheFileLiesBesideTheTraceLog) {
  const std::string agentKey = config::AgentKey(kAgent);
  CConfRepositoryManager* repository = CConfRepositoryManager::GetInstance();

  // A backslash in the folder is doubled for the properties reader: on Linux one in a
  // folder's name, on Windows the separator of two folders.
  std::filesystem::create_directories(sandbox.Path("odd\\name"));
  repository->SetStr(agentKey.c_str(), config::kLogFileName, sandbox.Path("odd\\name/disc.log").c_str());
  ASSERT_EQ(adapter.WriteAdapterConf(), 1);
  EXPECT_EQ(adapter.ConfigFilePath(), JoinPath(sandbox.Path("odd\\name"), "QuillonLstAdapter.conf"));
  std::string text = TestSandbox::ReadFile(adapter.ConfigFilePath());
  EXPECT_NE(text.find("  adapter.working.dir = " + sandbox.Dir() + "/odd\\\\name" + kLineEnd), std::string::npos)
      << text;

  // A folder that does not exist.
  repository->SetStr(agentKey.c_str(), config::kLogFileName, sandbox.Path("absent/disc.log").c_str());
  EXPECT_EQ(adapter.WriteAdapterConf(), 0);
  EXPECT_TRUE(
      Traced("Unable to create the configuration file " + JoinPath(sandbox.Path("absent"), "QuillonLstAdapter.conf")));

  // A bare file name keeps the file in the working directory, not at the root.
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(sandbox.Dir());
  repository->SetStr(agentKey.c_str(), config::kLogFileName, "disc.log");
  EXPECT_EQ(adapter.WriteAdapterConf(), 1);
  std::filesystem::current_path(previous);
  EXPECT_EQ(adapter.ConfigFilePath(), JoinPath(".", "QuillonLstAdapter.conf"));
  EXPECT_TRUE(std::filesystem::exists(ConfigFile()));
}

TEST_F(AdapterSettingsTest, EveryCallBeforeInitializeIsRefusedWithItsLine) {
  EXPECT_EQ(adapter.AddInstance(L"<a/>"), 0);
  EXPECT_EQ(adapter.UpdateInstance(L"<a/>"), 0);
  EXPECT_EQ(adapter.DeleteInstance(L"<a/>"), 0);
  EXPECT_EQ(adapter.AddLink(L"<a/>"), 0);
  EXPECT_EQ(adapter.DeleteLink(L"<a/>"), 0);
  EXPECT_EQ(adapter.SendEvent(L"<a/>"), 0);
  EXPECT_EQ(adapter.BeginDiscovery(0), 0);
  EXPECT_EQ(adapter.CommitDiscovery(), 0);
  EXPECT_EQ(adapter.Terminate(), 0);
  for (const char* call : {"AddInstance", "UpdateInstance", "DeleteInstance", "AddLink", "DeleteLink", "SendEvent",
                           "BeginDiscovery", "EndDiscovery", "Terminate"})
    EXPECT_TRUE(Traced(std::string("Adapter wasn't initialized. ") + call + " cannot be executed")) << call;
  EXPECT_FALSE(Traced("called"));  // no call got as far as making a parameter
  EXPECT_FALSE(Traced("Calling method on the OrvexAdapter pointer"));
}

// Where a Java installation keeps its VM library, and how a class path is joined, is each
// system's own.
TEST(JavaVmLibrary, IsLookedForInTheNamedFileThenJavaHomeThenTheSystemDefault) {
  using auralink::orvex::JvmLibraryCandidates;
#ifdef _WIN32
  EXPECT_EQ(JvmLibraryCandidates("D:\\jvm\\jvm.dll", "C:\\jdk\\", "C:\\Program Files\\Java\\jre"),
            (std::vector<std::string>{"D:\\jvm\\jvm.dll", "C:\\jdk\\bin\\server\\jvm.dll",
                                      "C:\\Program Files\\Java\\jre\\bin\\server\\jvm.dll"}));
  EXPECT_EQ(JvmLibraryCandidates("", nullptr, "C:\\Program Files\\Java\\jre"),
            (std::vector<std::string>{"C:\\Program Files\\Java\\jre\\bin\\server\\jvm.dll"}));
#else
  EXPECT_EQ(JvmLibraryCandidates("/opt/jvm/libjvm.so", "/opt/jdk/", "/usr/lib/jvm/default-java"),
            (std::vector<std::string>{"/opt/jvm/libjvm.so", "/opt/jdk/lib/server/libjvm.so",
                                      "/usr/lib/jvm/default-java/lib/server/libjvm.so"}));
  EXPECT_EQ(JvmLibraryCandidates("", nullptr, "/usr/lib/jvm/default-java"),
            (std::vector<std::string>{"/usr/lib/jvm/default-java/lib/server/libjvm.so"}));
#endif

  std::string loaded;
  std::string failures;
  EXPECT_EQ(auralink::orvex::LoadJvmLibrary({"/absent/one.so", "/absent/two.so"}, loaded, failures), nullptr);
  EXPECT_EQ(failures.find("/absent/one.so: "), 0u) << failures;
  EXPECT_NE(failures.find("; /absent/two.so: "), std::string::npos) << failures;
  EXPECT_TRUE(loaded.empty());
}

TEST(JavaVmLibrary, TheClassPathIsTheAdapterFolderAndItsFourArchives) {
  using auralink::orvex::JavaClassPathOption;
#ifdef _WIN32
  EXPECT_EQ(JavaClassPathOption(nullptr),
            "-Djava.class.path=.;.\\adapter.jar;.\\QlinkGateway.jar;.\\vellum.jar;.\\xerces.jar");
  EXPECT_EQ(JavaClassPathOption("C:\\orvex\\"),
            "-Djava.class.path=C:\\orvex;C:\\orvex\\adapter.jar;C:\\orvex\\QlinkGateway.jar;"
            "C:\\orvex\\vellum.jar;C:\\orvex\\xerces.jar");
#else
  EXPECT_EQ(JavaClassPathOption(nullptr),
            "-Djava.class.path=.:./adapter.jar:./QlinkGateway.jar:./vellum.jar:./xerces.jar");
  EXPECT_EQ(JavaClassPathOption("/opt/orvex/"),
            "-Djava.class.path=/opt/orvex:/opt/orvex/adapter.jar:/opt/orvex/QlinkGateway.jar:"
            "/opt/orvex/vellum.jar:/opt/orvex/xerces.jar");
#endif
}

TEST(ExceptionText, ShowsTheAdapterExceptionsOwnTextAndTheSystemTextForOthers) {
  auto textOf = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return auralink::orvex::CurrentExceptionText();
    }
    return std::string("not thrown");
  };
  EXPECT_EQ(textOf([] { throw AdapterException("queue manager unreachable"); }), "queue manager unreachable");
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::string system = textOf([] { throw std::runtime_error("x"); });
  EXPECT_EQ(system, auralink::platform::ErrorMessageText(ERROR_FILE_NOT_FOUND) + " (0x2)");
  SetLastError(0x2BADF00D);  // a code without a text
  EXPECT_EQ(textOf([] { throw std::runtime_error("x"); }), "");
}

}  // namespace
