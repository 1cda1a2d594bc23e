// zeltsetup run as the operator runs it: each case starts from its own registry file and
// reads back what the program left there, on its outputs and in its trace.
#include <auralink/conf_repository.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "program_run.h"
#include "test_sandbox.h"

namespace {

using auralink::testing::TestSandbox;
using zeltsetup_test::ProgramRun;
using Words = std::vector<std::string>;

constexpr const char* kQuillonAdapter = "SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\OrvexSettings\\Adapter";
constexpr const char* kQuillonTable = "SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\DBListening\\PollingTables\\ManagedObjects";
constexpr const char* kMarrowbyAdapter = "SOFTWARE\\Kestrova\\Auralink\\MarrowbyLst\\OrvexSettings\\Adapter";
constexpr const char* kMarrowbyListening = "SOFTWARE\\Kestrova\\Auralink\\MarrowbyLst\\EventListening";
constexpr const char* kMarrowbyLog = "SOFTWARE\\Kestrova\\Auralink\\MarrowbyLst\\EventListening\\EventLogs\\TNGlog";

const std::string kAdapterUsage =
    "                    [-reqport <Request Port Number>]\n"
    "                    [-resport <Response Port Number>]\n"
    "                    [-svrport <Server Port Number>]\n"
    "                    [-svraddress <Server Address>]\n"
    "                    [-lqs (file | memory)]\n"
    "                    [-rqs (file | memory)]\n";
const std::string kUsage = "\nUsage: zeltsetup -i [-log (on [-lf <Log File Name>] | off) ]\n" + kAdapterUsage +
                           "                    [-refresh <Refresh Time>]\n\n       zeltsetup -h\n\n"
                           "\nUsage: zeltsetup -e [-log (on [-lf <Log File Name>] | off)]\n" + kAdapterUsage +
                           "                    [-refresh <Refresh Time>]\n"
                           "                    [-startmode (cold | warm)]\n"
                           "                    [-msgfilter (a | d)]\n"
                           "                    [-subnetmask <Subnet Mask>]\n\n       zeltsetup -h\n\n";

class ZeltsetupTest : public ::testing::Test {
 protected:
  // The built program, or the one ZELTSETUP names (an installed copy, say).
  static ProgramRun Run(const Words& arguments, long long fileSizeLimit = -1) {
    const char* installed = std::getenv("ZELTSETUP");
    return zeltsetup_test::RunProgram(installed && *installed ? installed : ZELTSETUP_PROGRAM, arguments,
                                      fileSizeLimit);
  }

  // The next case starts from an empty registry whose two agents trace into the sandbox.
  void FreshRegistry() {
    std::filesystem::remove(sandbox_.RegistryFile());
    std::filesystem::remove(sandbox_.TraceFile());
    for (const char* agent : {"QuillonLst", "MarrowbyLst"})
      Repository()->SetStr((std::string("SOFTWARE\\Kestrova\\Auralink\\") + agent).c_str(), "LogFileName",
                           sandbox_.TraceFile().c_str());
  }

  static CConfRepositoryManager* Repository() { return CConfRepositoryManager::GetInstance(); }

  static std::optional<std::string> Text(const char* key, const char* name) {
    char value[MAX_PATH];
    DWORD size = MAX_PATH;
    if (!Repository()->ReadStr(key, name, nullptr, value, &size)) return std::nullopt;
    return std::string(value);
  }

  static std::optional<DWORD> Number(const char* key, const char* name) {
    DWORD value = 0;
    if (!Repository()->ReadNum(key, name, nullptr, &value, nullptr)) return std::nullopt;
    return value;
  }

  std::string Trace() const { return TestSandbox::ReadFile(sandbox_.TraceFile()); }

  TestSandbox sandbox_;
};

TEST_F(ZeltsetupTest, TheModeWordChoosesBetweenUsageSummaryAndStoring) {
  const Words usageCases[] = {{},
                              {"-x"},
                              {"-h"},
                              {"-i", "-h"},
                              {"-e", "--help"},
                              {"-i", "-LOG", "on"},          // option words keep their case
                              {"-i", "-startmode", "cold"},  // no event option opens an instance run
                              {"-i", "-lf", "x"}};           // -lf only follows -log on
  for (const Words& arguments : usageCases) {
    FreshRegistry();
    const std::string before = TestSandbox::ReadFile(sandbox_.RegistryFile());
    const ProgramRun run = Run(arguments);
    const std::string shown = arguments.empty() ? "(none)" : arguments.back();
    EXPECT_EQ(run.exitCode, 1) << shown;
    EXPECT_EQ(run.out + run.err, kUsage) << shown;
    EXPECT_EQ(TestSandbox::ReadFile(sandbox_.RegistryFile()), before) << shown;
  }
}

TEST_F(ZeltsetupTest, EveryOptionGivenInOrderIsStoredWhereItsReadersLook) {
  FreshRegistry();
  ProgramRun run = Run({"-i", "-log", "On", "-lf", "/var/log/Adapter.LOG", "-reqport", "5000", "-resport", " +5001x",
                        "-svrport", "abc", "-svraddress", "Orvex.Example", "-lqs", "MEMORY", "-rqs", "File",
                        "-refresh", "15"});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_EQ(Text(kQuillonAdapter, "loggingmode.default"), "true");
  EXPECT_EQ(Text(kQuillonAdapter, "loggingmode.filename"), "/var/log/Adapter.LOG");
  EXPECT_EQ(Number(kQuillonAdapter, "transport.request.port"), 5000u);
  EXPECT_EQ(Number(kQuillonAdapter, "transport.response.port"), 5001u);
  EXPECT_EQ(Number(kQuillonAdapter, "transport.server.qlink.port"), 0u);
  EXPECT_EQ(Text(kQuillonAdapter, "transport.server.ip.address"), "Orvex.Example");
  EXPECT_EQ(Text(kQuillonAdapter, "transport.qlink.local.queue.store"), "memory");
  EXPECT_EQ(Text(kQuillonAdapter, "transport.qlink.remote.queue.store"), "file");
  EXPECT_EQ(Text(kQuillonTable, "RefreshTime"), "15");
  EXPECT_NE(Trace().find("L2 zelsetup: Response port number has been set to  +5001x\n"), std::string::npos) << Trace();

  FreshRegistry();
  run = Run({"-e", "-log", "off", "-reqport", "-1", "-resport", "99999999999", "-refresh", "30", "-subnetmask",
             "255.255.240.0", "-startmode", "COLD", "-msgfilter", "D"});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(Text(kMarrowbyAdapter, "loggingmode.default"), "false");
  EXPECT_EQ(Number(kMarrowbyAdapter, "transport.request.port"), 0xFFFFFFFFu);
  EXPECT_EQ(Number(kMarrowbyAdapter, "transport.response.port"), 2147483647u);  // held at the 32-bit end
  EXPECT_EQ(Text(kMarrowbyLog, "RefreshTime"), "30");
  EXPECT_EQ(Text(kMarrowbyListening, "SubnetMask"), "255.255.240.0");
  EXPECT_EQ(Text(kMarrowbyLog, "StartMode"), "cold");
  EXPECT_EQ(Text(kMarrowbyLog, "MsgFilter"), "d");
  EXPECT_NE(Trace().find("L2 zelsetup: Subnet mask has been set to 255.255.240.0\n"), std::string::npos) << Trace();
}

TEST_F(ZeltsetupTest, OptionsOutOfTheFixedOrderAreLeftUnread) {
  struct Case {
    Words arguments;
    const char* key;
    const char* stored;  // the one value stored
  };
  const Case cases[] = {
      {{"-i", "-refresh", "5", "-rqs", "file", "-lqs", "file", "-svraddress", "h", "-svrport", "1", "-resport", "2",
        "-reqport", "3", "-log", "on"},
       kQuillonTable, "RefreshTime"},
      {{"-e", "-msgfilter", "d", "-startmode", "cold", "-subnetmask", "255.255.0.0", "-refresh", "5"}, kMarrowbyLog,
       "MsgFilter"},
      {{"-e", "-startmode", "cold", "-subnetmask", "255.255.0.0"}, kMarrowbyLog, "StartMode"},
      {{"-i", "-reqport", "5000", "-log", "on"}, kQuillonAdapter, "transport.request.port"},
      {{"-i", "-log", "off", "-lf", "x", "-reqport", "1"}, kQuillonAdapter, "loggingmode.default"},
  };
  for (const Case& c : cases) {
    FreshRegistry();
    const ProgramRun run = Run(c.arguments);
    EXPECT_EQ(run.exitCode, 0) << c.stored;
    EXPECT_EQ(run.out + run.err, "") << c.stored;
    const std::string trace = Trace();
    EXPECT_EQ(trace.find("has been set"), trace.rfind("has been set")) << trace;  // one value stored
    EXPECT_TRUE(Text(c.key, c.stored) || Number(c.key, c.stored)) << c.stored;
  }
}

TEST_F(ZeltsetupTest, ARejectedValueStopsTheRunAndKeepsWhatWasStoredBefore) {
  struct Case {
    Words arguments;
    std::string traced;  // the level-0 line
    std::string out;
    std::string err = "";
  };
  // Texts the programs cannot read: they pass a size word of 260, terminating zero included.
  const std::string tooLong(260, 'x');
  const std::string tooLongLine = " was not stored: it is 260 bytes long, the programs read at most 259 bytes\n";
  const Case cases[] = {
      {{"-i", "-reqport", "7", "-log", "yes"}, "", ""},  // "-log" out of order: unread, so not refused
      {{"-i", "-reqport", "7", "-lqs", "disk"}, "Wrong local queue store has been specified", kUsage},
      {{"-e", "-reqport", "7", "-rqs", "fil"}, "Wrong remote queue store has been specified", kUsage},
      {{"-e", "-reqport", "7", "-startmode", "hot"}, "Wrong start mode has been specified", kUsage},
      {{"-e", "-reqport", "7", "-msgfilter", "ad"}, "Wrong message filter has been specified", kUsage},
      {{"-e", "-reqport", "7", "-subnetmask", "255.0.255.0"}, "", "ZLT0005E - Invalid subnet mask was specified\n"},
      {{"-i", "-reqport", "7", "-svraddress", tooLong},
       "Server address was not stored: it is 260 bytes long, at most 259 are read", "",
       "zeltsetup: transport.server.ip.address" + tooLongLine},
      {{"-e", "-reqport", "7", "-refresh", tooLong}, "Polling time was not stored", "", "zeltsetup: RefreshTime" + tooLongLine},
  };
  for (const Case& c : cases) {
    FreshRegistry();
    const ProgramRun run = Run(c.arguments);
    const std::string trace = Trace();
    EXPECT_EQ(run.exitCode, c.out.empty() && c.err.empty() ? 0 : 1) << c.arguments.back();
    EXPECT_EQ(run.out, c.out) << c.arguments.back();
    EXPECT_EQ(run.err, c.err) << c.arguments.back();
    EXPECT_EQ(trace.find("L0 zelsetup: " + c.traced), c.traced.empty() ? std::string::npos : trace.find("L0 "))
        << trace;
    EXPECT_EQ(trace.find("has been set to " + c.arguments.back()), std::string::npos) << trace;
    EXPECT_EQ(Number(c.arguments[0] == "-i" ? kQuillonAdapter : kMarrowbyAdapter, "transport.request.port"), 7u);
  }
  FreshRegistry();
  EXPECT_EQ(Run({"-i", "-log", "yes"}).out, kUsage);
  EXPECT_NE(Trace().find("L0 zelsetup: Wrong logging mode specified: it can be only on or off\n"), std::string::npos);

  // A log file name too long to be read keeps the one stored before; the longest readable
  // server address is stored and read back by the summary.
  FreshRegistry();
  Repository()->SetStr(kQuillonAdapter, "loggingmode.filename", "kept.log");
  ProgramRun run = Run({"-i", "-log", "on", "-lf", tooLong});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "zeltsetup: loggingmode.filename" + tooLongLine);
  EXPECT_EQ(Text(kQuillonAdapter, "loggingmode.filename"), "kept.log");
  const std::string longest(259, 's');
  EXPECT_EQ(Run({"-i", "-svraddress", longest}).exitCode, 0);
  EXPECT_NE(Run({"-i"}).out.find("Server Address            " + longest + "\n"), std::string::npos);
}

TEST_F(ZeltsetupTest, AnOptionWithoutItsValueShowsTheUsageAndReadsNoFurther) {
  const Words cases[] = {{"-i", "-reqport"}, {"-i", "-log", "on", "-lf"}, {"-e", "-refresh", "9", "-subnetmask"}};
  for (const Words& arguments : cases) {
    FreshRegistry();
    const ProgramRun run = Run(arguments);
    EXPECT_EQ(run.exitCode, 1) << arguments[1];
    EXPECT_EQ(run.out, kUsage) << arguments[1];
  }
  EXPECT_EQ(Text(kMarrowbyLog, "RefreshTime"), "9");  // what came before stays stored
  EXPECT_EQ(Text(kMarrowbyListening, "SubnetMask"), std::nullopt);
}

TEST_F(ZeltsetupTest, TheSummaryShowsEverySettingUnderItsLabel) {
  FreshRegistry();
  ProgramRun run = Run({"-I"});  // the mode word in any case
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out,
            "Logging Mode              false\n"
            "Log File Name             QuillonLst_LoggingModeFile.log\n"
            "Request Port Number was not set. It must be set before launching product\n"
            "Response Port Number was not set. It must be set before launching product\n"
            "Server Port Number was not set. It must be set before launching product\n"
            "Server Address            Server Address not found in the registry! It must be set\n"
            "Local Queue Store         file\n"
            "Remote Queue Store        file\n"
            "Refresh Time              60\n");
  run = Run({"-E"});
  EXPECT_EQ(run.out.substr(run.out.find("Refresh Time")),
            "Refresh Time              60\n"
            "Start Mode                warm\n"
            "Message Filter            a\n"
            "No subnet mask was set. Default subnet mask will be used -> CLASS A: 255.0.0.0, CLASS B: 255.255.0.0, "
            "CLASS C: 255.255.255.0\n");
  EXPECT_EQ(Trace(), "");  // the summary opens no trace

  for (const char* name : {"loggingmode.default", "loggingmode.filename", "transport.server.ip.address",
                           "transport.qlink.local.queue.store", "transport.qlink.remote.queue.store"})
    Repository()->SetStr(kMarrowbyAdapter, name, (std::string("is ") + name).c_str());
  Repository()->SetNum(kMarrowbyAdapter, "transport.request.port", 0xFFFFFFFFu);  // all bits: not set
  Repository()->SetNum(kMarrowbyAdapter, "transport.response.port", 4294967294u);
  Repository()->SetNum(kMarrowbyAdapter, "transport.server.qlink.port", 0);
  for (const char* name : {"RefreshTime", "StartMode", "MsgFilter"})
    Repository()->SetStr(kMarrowbyLog, name, (std::string("is ") + name).c_str());
  Repository()->SetStr(kMarrowbyListening, "SubnetMask", "255.255.240.0");
  run = Run({"-e"});
  EXPECT_EQ(run.exitCode, 1);  // also when every setting is present
  EXPECT_EQ(run.out,
            "Logging Mode              is loggingmode.default\n"
            "Log File Name             is loggingmode.filename\n"
            "Request Port Number was not set. It must be set before launching product\n"
            "Response Port Number      4294967294\n"
            "Server Port Number        0\n"
            "Server Address            is transport.server.ip.address\n"
            "Local Queue Store         is transport.qlink.local.queue.store\n"
            "Remote Queue Store        is transport.qlink.remote.queue.store\n"
            "Refresh Time              is RefreshTime\n"
            "Start Mode                is StartMode\n"
            "Message Filter            is MsgFilter\n"
            "Subnet Mask               255.255.240.0\n");
}

TEST_F(ZeltsetupTest, ARegistryFileThatCannotBeWrittenIsReportedAndKeepsItsContent) {
  FreshRegistry();
  Repository()->SetStr(kQuillonAdapter, "transport.server.ip.address", "kept.example");
  const std::string before = TestSandbox::ReadFile(sandbox_.RegistryFile());
  const std::string lockFile = sandbox_.RegistryFile() + ".lock";
  TestSandbox::WriteFile(sandbox_.Path("plain-file"), "x");
  struct Case {
    std::string registry;
    long long fileSizeLimit;  // the new file outgrows it, as on a full disk
    const char* reason;
  };
  const Case cases[] = {
      {sandbox_.RegistryFile(), -1, "Is a directory"},  // a folder in the lock file's place
      {sandbox_.RegistryFile(), static_cast<long long>(before.size()), "File too large"},
      {sandbox_.Path("plain-file") + "/registry.reg", -1, "Not a directory"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(lockFile);
    if (&c == &cases[0]) std::filesystem::create_directory(lockFile);
    setenv("AURALINK_REGISTRY", c.registry.c_str(), 1);
    const ProgramRun run = Run({"-i", "-svraddress", "a.longer.name.than.before.example", "-refresh", "5"},
                               c.fileSizeLimit);
    setenv("AURALINK_REGISTRY", sandbox_.RegistryFile().c_str(), 1);

    EXPECT_EQ(run.exitCode, 1) << c.reason;
    EXPECT_EQ(run.out, "") << c.reason;
    EXPECT_NE(run.err.find("zeltsetup: transport.server.ip.address was not saved: the registry file " + c.registry),
              std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(TestSandbox::ReadFile(sandbox_.RegistryFile()), before) << c.reason;
    EXPECT_EQ(Trace().find("has been set"), std::string::npos) << c.reason;
  }
  std::filesystem::remove(lockFile);
  for (const auto& entry : std::filesystem::directory_iterator(sandbox_.Dir()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

}  // namespace
