// zeltdiscovery run as the operator runs it: the built program against a registry with
// the hub facade and the repository discovery registered, a generated repository behind
// "VAZUV", the agent's Orvex settings, and the stand-in Orvex adapter, whose record file
// shows what Orvex received. The agent's processing class is the scripted one, which
// turns each instance into one instance creation.
#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/guids.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <sys/wait.h>
#include <test_sandbox.h>
#include <module_function.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "adapter_test_agent.h"
#include "repository_generator.h"
#include <auralink/platform/guid_text.h>

using auralink::testing::TestSandbox;
namespace config = auralink::config;

namespace {

constexpr const char* kAgent = "QuillonLst";

struct RunResult {
  int status = -1;
  std::string out;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Field(const std::string& line, int index) {
  std::istringstream fields(line);
  std::string field;
  for (int i = 0; i <= index && std::getline(fields, field, '\t'); ++i) {
  }
  return field;
}

class ZeltdiscoveryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sandbox = new TestSandbox();
    setenv("APATH", ORVEX_ADAPTER_DIR, 1);  // the stand-in adapter.jar
    typedef HRESULT(STDAPICALLTYPE * RegisterFunction)();
    for (const char* module : {TOUCHPOINT_MODULE, QUILLON_MODULE}) {
      HMODULE library = LoadLibraryA(module);
      auto registerServer =
          library ? auralink::testing::ModuleFunction<RegisterFunction>(library, "DllRegisterServer") : nullptr;
      ASSERT_TRUE(registerServer && SUCCEEDED(registerServer())) << module;
    }
    std::string error;
    auralink::standins::RepositoryCounts counts;
    ASSERT_TRUE(auralink::standins::GenerateRepository(sandbox->Path("repository.db"), {60, 7}, counts, error))
        << error;
    const std::string bin = TestSandbox::BuildDir() + "/bin";
    const std::string command = "'" + bin + "/auralink-write-odbc-ini' VAZUV '" + sandbox->Path("repository.db") +
                                "' '" + sandbox->Path("odbc.ini") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  static void TearDownTestSuite() {
    delete sandbox;
    sandbox = nullptr;
  }
  void SetUp() override {
    orvex::testing::WriteAgentSettings(kAgent, sandbox->Dir());
    orvex::testing::UseScriptedProcessing(kAgent);
    // Written here until the repository discovery's registration writes it itself.
    CConfRepositoryManager::GetInstance()->SetStr(config::AgentKey(kAgent).c_str(), config::kDiscoveryId,
                                                  auralink::platform::GuidToString(CLSID_QuillonDiscovery, false).c_str());
    std::filesystem::remove(RecordFile());
    std::filesystem::remove(FaultFile());
  }

  static std::string RecordFile() { return sandbox->Path("orvex-record.txt"); }
  static std::string FaultFile() { return sandbox->Path("orvex-fault.properties"); }
  static std::vector<std::string> Record() { return Lines(TestSandbox::ReadFile(RecordFile())); }
  static std::vector<std::string> RecordedMethods() {
    std::vector<std::string> methods;
    for (const std::string& line : Record()) methods.push_back(Field(line, 0));
    return methods;
  }

  static RunResult Discover(const std::string& arguments) {
    const std::string command = "'" + TestSandbox::BuildDir() + "/bin/zeltdiscovery' " + arguments + " 2>/dev/null";
    RunResult run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }
  // The program's trace, for the failure messages.
  static std::string Trace() { return TestSandbox::ReadFile(sandbox->Path(std::string(kAgent) + ".log")); }
  // The number printed before `suffix`, or -1.
  static int Count(const RunResult& run, const std::string& suffix) {
    const std::size_t at = run.out.find(suffix);
    if (at == std::string::npos) return -1;
    const std::size_t start = run.out.find_last_not_of("0123456789", at - 1) + 1;
    return std::atoi(run.out.c_str() + start);
  }
  static int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
  }
  static bool Has(const RunResult& run, const std::string& text) { return run.out.find(text) != std::string::npos; }
  static int Objects(const RunResult& run) {
    const std::string marker = "Discovery process will take place on ";
    const std::size_t at = run.out.find(marker);
    return at == std::string::npos ? -1 : std::atoi(run.out.c_str() + at + marker.size());
  }

  static TestSandbox* sandbox;
};
TestSandbox* ZeltdiscoveryTest::sandbox = nullptr;

TEST_F(ZeltdiscoveryTest, ABulkRunHandsEverySupportedObjectToOrvexBetweenOneBeginAndOneCommit) {
  RunResult run = Discover("-ps minimum");
  ASSERT_EQ(run.status, 0) << run.out << Trace();
  const int objects = Objects(run);
  ASSERT_GT(objects, 0) << run.out;
  EXPECT_TRUE(Has(run, "Initializing discovery process\n"));
  EXPECT_TRUE(Has(run, "Discovery successfully completed!\n"));
  // The generated repository holds objects too incomplete to read: they are counted, and
  // the run goes on.
  const int sent = Count(run, " objects successfully discovered\n");
  const int failed = Count(run, " objects failed\n");
  EXPECT_EQ(sent + failed, objects) << run.out;
  EXPECT_GT(sent, 0);
  EXPECT_EQ(Occurrences(run.out, "ZLT0002E - Unable to get object with id "), failed);
  // Without -verbose: a dot before and one after each object sent, one before each failure.
  const std::size_t begin = run.out.find(" objects\n");
  const std::string progress = run.out.substr(begin, run.out.find(" objects successfully") - begin);
  EXPECT_EQ(Occurrences(progress, "."), 2 * sent + failed) << run.out;

  std::vector<std::string> expected = {"registerInstrumentation", "beginDiscovery"};
  expected.insert(expected.end(), sent, "addObjectInstances");
  expected.insert(expected.end(), {"commitDiscovery", "unregisterInstrumentation"});
  EXPECT_EQ(RecordedMethods(), expected);
  EXPECT_EQ(Field(Record()[1], 2), "BULK_DISCOVERY");
  // The repository connection is closed before the program leaves COM.
  EXPECT_NE(Trace().find("TNG database closed"), std::string::npos) << Trace();
}

TEST_F(ZeltdiscoveryTest, OneClassOrOneIdentifierMakesADeltaDiscovery) {
  RunResult byClass = Discover("-c IpSubnet -ps minimum -verbose");
  ASSERT_EQ(byClass.status, 0) << byClass.out;
  const int subnets = Objects(byClass);
  EXPECT_GT(subnets, 0);
  EXPECT_TRUE(Has(byClass, "Object number 1/" + std::to_string(subnets) + ": id -> "));
  EXPECT_TRUE(Has(byClass, "Object number 1 processed\n"));
  auto record = Record();
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(Field(record[1], 2), "DELTA_DISCOVERY");
  EXPECT_EQ(static_cast<int>(record.size()), subnets + 4);

  // The identifier of the first subnet, as Orvex received it.
  const std::string xml = Field(record[2], 3);
  const std::string id = xml.substr(xml.find("id=\"") + 4, xml.rfind('"') - xml.find("id=\"") - 4);
  std::filesystem::remove(RecordFile());
  RunResult byId = Discover("-id " + id);
  ASSERT_EQ(byId.status, 0) << byId.out;
  EXPECT_FALSE(Has(byId, "Discovery process will take place on "));
  EXPECT_TRUE(Has(byId, "1 objects successfully discovered\n0 objects failed\n"));
  EXPECT_EQ(RecordedMethods(), (std::vector<std::string>{"registerInstrumentation", "beginDiscovery",
                                                         "addObjectInstances", "commitDiscovery",
                                                         "unregisterInstrumentation"}));
  EXPECT_EQ(Field(Record()[2], 3), "<instance id=\"" + id + "\"/>");
}

TEST_F(ZeltdiscoveryTest, AClassWithoutObjectsStillBeginsAndCommitsADiscovery) {
  // A supported class that the generated repository never holds.
  TestSandbox::WriteFile(sandbox->Path(std::string(kAgent) + ".classes"),
                         std::string(orvex::testing::kClassesFile) + "class Mainframe Mainframe\n");
  RunResult run = Discover("-c Mainframe");
  ASSERT_EQ(run.status, 0) << run.out << Trace();
  EXPECT_TRUE(Has(run, "Discovery process will take place on 0 objects\n"));
  EXPECT_TRUE(Has(run, "0 objects successfully discovered\n0 objects failed\n"));
  EXPECT_EQ(RecordedMethods(), (std::vector<std::string>{"registerInstrumentation", "beginDiscovery",
                                                         "commitDiscovery", "unregisterInstrumentation"}));
}

TEST_F(ZeltdiscoveryTest, ObjectsThatFailAreCountedAndTheRunGoesOn) {
  RunResult unknown = Discover("-id no-such-object");
  EXPECT_EQ(unknown.status, 0) << unknown.out;
  EXPECT_TRUE(Has(unknown, "\nZLT0002E - Unable to get object with id no-such-object\n"));
  EXPECT_TRUE(Has(unknown, "0 objects successfully discovered\n1 objects failed\n"));

  TestSandbox::WriteFile(FaultFile(), "method=addObjectInstances\nmessage=queue full\n");
  RunResult refused = Discover("-c IpNetwork -ps minimum");
  EXPECT_EQ(refused.status, 0) << refused.out;
  const int networks = Objects(refused);
  EXPECT_TRUE(Has(refused, "\nZLT0003E - Unable to send object with id "));
  EXPECT_TRUE(Has(refused, "0 objects successfully discovered\n" + std::to_string(networks) + " objects failed\n"));
}

TEST_F(ZeltdiscoveryTest, ARunThatCannotStartOrFinishExitsWithItsMessage) {
  TestSandbox::WriteFile(FaultFile(), "method=commitDiscovery\nmessage=server gone\n");
  RunResult uncommitted = Discover("-c IpNetwork -ps minimum");
  EXPECT_EQ(uncommitted.status, 1) << uncommitted.out;
  EXPECT_TRUE(Has(uncommitted, "ZLT0004E - Discovery process failed\n"));
  EXPECT_FALSE(Has(uncommitted, "Discovery successfully completed!"));
  std::filesystem::remove(FaultFile());
  std::filesystem::remove(RecordFile());

  RunResult unsupported = Discover("-c NoSuchClass");
  EXPECT_EQ(unsupported.status, 1) << unsupported.out;
  EXPECT_TRUE(Has(unsupported, "ZLT0004E - Discovery process failed\n"));
  std::filesystem::remove(RecordFile());

  orvex::testing::RemoveSetting(config::AdapterKey(kAgent), config::kTransportServerAddress);
  RunResult unconfigured = Discover("");
  EXPECT_EQ(unconfigured.status, 1) << unconfigured.out;
  EXPECT_TRUE(Has(unconfigured, "Initializing discovery process\nZLT0001E - Discovery process initialization failed\n"));
  EXPECT_FALSE(std::filesystem::exists(RecordFile()));
}

TEST_F(ZeltdiscoveryTest, TheCommandLineIsCheckedBeforeAnythingStarts) {
  RunResult help = Discover("-H");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("\nUsage: zeltdiscovery [-ps (maximum | normal | minimum)]\n", 0), 0u) << help.out;
  EXPECT_TRUE(Has(help, "       zeltdiscovery -h\n\n"));
  for (const char* invalid : {"-ID x", "-ps fast", "-id x -ps minimum", "-c IpSubnet -id x", "-id", "-c",
                              "-id ''", "-c '' -ps normal", "-log -lf", "-verbose -log", "extra"}) {
    RunResult run = Discover(invalid);
    EXPECT_EQ(run.status, 1) << invalid;
    EXPECT_EQ(run.out, help.out) << invalid;
  }
  EXPECT_FALSE(std::filesystem::exists(RecordFile()));
}

}  // namespace
