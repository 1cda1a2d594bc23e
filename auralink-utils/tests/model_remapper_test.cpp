#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "model/remapper_clock.h"
#include "model/supported_classes.h"

namespace {

using auralink::model::SupportedClasses;
using auralink::testing::TestSandbox;

const char* const kSample =
    "\xEF\xBB\xBF# sample\r\n"
    "class  WindowsNT_Server  ComputerSystem   # trailing comment\r\n"
    "class  Unix_Server       ComputerSystem\n"
    "class  IP_Subnet         Subnet\n"
    "class  \"TNG Segment\"     Segment\n"
    "\n"
    "   # indented comment\n"
    "rename WindowsNT_Server  label  caption\n"
    "rename WindowsNT_Server  uuid   guid\n"
    "link   WindowsNT_Server  IP_Subnet  MemberOf\n"
    "link   Unix_Server       IP_Subnet  HostedIn\n"
    "link   IP_Subnet  \"TNG Segment\"  PartOf\n"
    "class  Aggregate  Aggregate\n";  // a class may be listed after the lines naming it

SupportedClasses ParsedSample() {
  SupportedClasses classes;
  SupportedClasses::Error error;
  EXPECT_TRUE(SupportedClasses::Parse(kSample, "Agent", classes, error)) << error.line << ": " << error.message;
  return classes;
}

CInstance Link(const std::string& source, const std::string& target) {
  CInstance link;
  link.m_type = CInstance::TYPE_LINK;
  link.m_sourceClass = source, link.m_sourceId = "child";
  link.m_targetClass = target, link.m_targetId = "parent";
  return link;
}

TEST(SupportedClassesFile, ReadsClassesRenamesAndLinks) {
  const SupportedClasses classes = ParsedSample();
  ASSERT_EQ(classes.Classes().size(), 5u);
  const CGenericClass& server = classes.Classes().at("WindowsNT_Server");
  EXPECT_EQ(server.m_className, "ComputerSystem");
  EXPECT_EQ(server.m_attributeNames, (std::map<std::string, std::string>{{"label", "caption"}, {"uuid", "guid"}}));
  EXPECT_EQ(classes.Classes().at("TNG Segment").m_className, "Segment");
  ASSERT_EQ(classes.Links().size(), 3u);
  EXPECT_EQ(classes.Links()[2].m_sourceClass, "IP_Subnet");
  EXPECT_EQ(classes.Links()[2].m_targetClass, "TNG Segment");
  EXPECT_EQ(classes.Links()[2].m_linkType, "PartOf");
}

TEST(SupportedClassesFile, BrokenFilesNameTheLine) {
  struct Case {
    const char* text;
    int line;
    const char* says;
  };
  const Case cases[] = {
      {"class A B\nklass C D\n", 2, "unknown keyword \"klass\""},
      {"class A\n", 1, "\"class\" takes"},
      {"class A B C\n", 1, "\"class\" takes"},
      {"class A B\nrename A x\n", 2, "\"rename\" takes"},
      {"class A B\nlink A A\n", 2, "\"link\" takes"},
      {"class \"A B\n", 1, "not closed"},
      {"class \"\" B\n", 1, "empty"},
      {"class \"A\"B C\n", 1, "followed by a blank"},
      {"class A\"B C\n", 1, "quotation mark"},
      {"class A B\n\nclass A C\n", 3, "already listed at line 1"},
      {"class A B\nrename Z x y\n", 2, "\"Z\", which is not listed"},
      {"class A B\nrename A x y\nrename A x z\n", 3, "already renamed at line 2"},
      {"class A B\nlink A Z T\n", 2, "\"Z\", which is not listed"},
      {"class A B\nlink A A T\nlink A A U\n", 3, "already listed at line 2"},
      {"# nothing but comments\n\n", 0, "no class is listed for the agent \"Agent\""},
      {"", 0, "no class"},
      {"class A B\nagent\n", 2, "\"agent\" takes an agent name"},
      {"class A B\nagent Agent Other\n", 2, "\"agent\" takes an agent name"},
      {"agent Agent\nclass A B\nagent Other\nagent Agent\n", 4, "\"Agent\" already has a section at line 1"},
      // Every line must have its form, whichever agent it serves.
      {"class A B\nagent Other\nclass C\n", 3, "\"class\" takes"},
      // Another agent's classes are not this agent's.
      {"agent Other\nclass A B\n", 0, "no class is listed for the agent \"Agent\""},
      {"agent Other\nclass A B\nagent Agent\nclass C D\nlink C A T\n", 5, "\"A\", which is not listed"},
      {"class A B\nagent Agent\nclass A C\n", 3, "already listed at line 1"},
  };
  for (const Case& c : cases) {
    SupportedClasses classes;
    SupportedClasses::Error error;
    EXPECT_FALSE(SupportedClasses::Parse(c.text, "Agent", classes, error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.message.find(c.says), std::string::npos) << c.text << " -> " << error.message;
  }
}

TEST(SupportedClassesFile, SectionsAddToTheStatementsForEveryAgent) {
  const char* const text =
      "class Host ComputerSystem\n"
      "agent Events\n"
      "class Network IPNetwork\n"
      "link Host Network MemberOf\n"
      "agent Instances\n"
      "class Router Router\n"
      "rename Host address ipAddress\n"
      "link Router Host ConnectedTo\n"
      "rename Network address x  # Network is another agent's: fine for Events, wrong here\n";
  SupportedClasses::Error error;
  SupportedClasses events;
  ASSERT_TRUE(SupportedClasses::Parse(text, "Events", events, error)) << error.line << ": " << error.message;
  EXPECT_EQ(events.Classes().size(), 2u);
  EXPECT_TRUE(events.Classes().at("Host").m_attributeNames.empty()) << "the rename is the other agent's";
  ASSERT_EQ(events.Links().size(), 1u);
  EXPECT_EQ(events.Links()[0].m_linkType, "MemberOf");

  SupportedClasses instances;
  EXPECT_FALSE(SupportedClasses::Parse(text, "Instances", instances, error));
  EXPECT_EQ(error.line, 9);

  SupportedClasses other;  // an agent without a section gets what serves every agent
  ASSERT_TRUE(SupportedClasses::Parse(text, "Other", other, error));
  ASSERT_EQ(other.Classes().size(), 1u);
  EXPECT_TRUE(other.Links().empty());
}

TEST(SupportedClassesRemap, InstancesTakeTheOrvexClassAndNames) {
  const SupportedClasses classes = ParsedSample();
  CInstance server;
  server.m_className = "WindowsNT_Server";
  server.m_keys = {{"uuid", "1"}};
  server.m_attributes = {{"uuid", "1"}, {"label", "Main"}, {"caption", "overwritten"}, {"name", "n"}};
  ASSERT_TRUE(classes.Remap(server));
  EXPECT_EQ(server.m_className, "ComputerSystem");
  EXPECT_EQ(server.m_keys, (std::map<std::string, std::string>{{"guid", "1"}}));
  EXPECT_EQ(server.m_attributes,
            (std::map<std::string, std::string>{{"guid", "1"}, {"caption", "Main"}, {"name", "n"}}));

  CInstance unknown;
  unknown.m_className = "ComputerSystem";  // an Orvex name is not a source class
  unknown.m_attributes = {{"label", "x"}};
  EXPECT_FALSE(classes.Remap(unknown));
  EXPECT_EQ(unknown.m_className, "ComputerSystem");
  EXPECT_EQ(unknown.m_attributes.count("label"), 1u);
}

TEST(SupportedClassesRemap, LinksTakeTheirTypeByBothEnds) {
  const SupportedClasses classes = ParsedSample();
  CInstance link = Link("Unix_Server", "IP_Subnet");
  ASSERT_TRUE(classes.Remap(link));
  EXPECT_EQ(link.m_linkType, "HostedIn");
  EXPECT_EQ(link.m_sourceClass, "ComputerSystem");
  EXPECT_EQ(link.m_targetClass, "Subnet");
  EXPECT_EQ(link.m_sourceId, "child");

  // A child already translated by an earlier link (one remap per parent) still matches.
  CInstance again = Link("ComputerSystem", "TNG Segment");
  EXPECT_FALSE(classes.Remap(again));  // no link from a server to a segment
  again.m_targetClass = "IP_Subnet";
  ASSERT_TRUE(classes.Remap(again));
  EXPECT_EQ(again.m_linkType, "MemberOf");  // the first matching line wins

  CInstance reversed = Link("IP_Subnet", "WindowsNT_Server");
  EXPECT_FALSE(classes.Remap(reversed));
  EXPECT_EQ(reversed.m_sourceClass, "IP_Subnet");
  EXPECT_TRUE(reversed.m_linkType.empty());
}

TEST(SupportedClassesRemap, EventsTakeTheOrvexClass) {
  const SupportedClasses classes = ParsedSample();
  CInstance event;
  event.m_type = CInstance::TYPE_EVENT;
  event.m_eventObjectClass = "TNG Segment";
  ASSERT_TRUE(classes.Remap(event));
  EXPECT_EQ(event.m_eventObjectClass, "Segment");
  ASSERT_TRUE(classes.Remap(event));  // already in Orvex terms
  EXPECT_EQ(event.m_eventObjectClass, "Segment");
  event.m_eventObjectClass = "Printer";
  EXPECT_FALSE(classes.Remap(event));
  event.m_type = 7;
  EXPECT_FALSE(classes.Remap(event));
}

// The remapper as the other components use it: file named in the configuration tree.
class RemapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRemapper::GetInstance()->Reset();
    CTraceUtils::GetInstance()->LogInitAppend(sandbox_.TraceFile().c_str(), -1, 0, -1);
  }
  void TearDown() override {
    auralink::model::SetRemapperTickSource(nullptr);
    CTraceUtils::GetInstance()->Close();
    CRemapper::GetInstance()->Reset();
  }
  void Configure(const std::string& agent, const std::string& classesFile, const std::string& logFile) {
    auto* conf = CConfRepositoryManager::GetInstance();
    conf->SetStr(auralink::config::InstrumentationKey(agent).c_str(), auralink::config::kInstrumentationClassesFile,
                 classesFile.c_str());
    if (!logFile.empty())
      conf->SetStr(auralink::config::AgentKey(agent).c_str(), auralink::config::kLogFileName, logFile.c_str());
  }
  std::string Trace() const { return TestSandbox::ReadFile(sandbox_.TraceFile()); }

  TestSandbox sandbox_;
};

TEST_F(RemapperTest, RelativeFileLiesBesideTheAgentLog) {
  std::filesystem::create_directory(sandbox_.Path("lib"));
  TestSandbox::WriteFile(sandbox_.Path("lib/tng.scl"), kSample);
  // Registration writes Windows separators; either kind leads to the same folder.
  Configure("QuillonLst", "tng.scl", sandbox_.Path("lib") + "\\QuillonLst.log");

  std::map<std::string, CGenericClass> classes;
  std::vector<CGenericLink> links;
  ASSERT_EQ(CRemapper::GetInstance()->GetClasses("QuillonLst", classes), 1) << Trace();
  ASSERT_EQ(CRemapper::GetInstance()->GetLinks("QuillonLst", links), 1);
  EXPECT_EQ(classes.size(), 5u);
  EXPECT_EQ(links.size(), 3u);
  CInstance server;
  server.m_className = "Unix_Server";
  EXPECT_EQ(CRemapper::GetInstance()->Remap("QuillonLst", server), 1);
  EXPECT_EQ(server.m_className, "ComputerSystem");
}

TEST_F(RemapperTest, FileIsReadOnceUntilReset) {
  const std::string file = sandbox_.Path("agent.classes");
  TestSandbox::WriteFile(file, "class A B\n");
  Configure("Agent", file, "");
  CInstance object;
  object.m_className = "A";
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Agent", object), 1);

  TestSandbox::WriteFile(file, "class C D\n");
  object.m_className = "A";
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Agent", object), 1);  // still the first reading
  CRemapper::GetInstance()->Reset();
  object.m_className = "A";
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Agent", object), 0);
}

TEST_F(RemapperTest, ThreadsShareOneReading) {
  const std::string file = sandbox_.Path("agent.classes");
  TestSandbox::WriteFile(file, kSample);
  Configure("Agent", file, "");
  std::vector<std::thread> threads;
  std::atomic<int> remapped{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        CInstance object;
        object.m_className = "IP_Subnet";
        remapped += CRemapper::GetInstance()->Remap("Agent", object);
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(remapped, 400);
  const std::string trace = Trace();
  EXPECT_EQ(trace.find("Read 5 classes"), trace.rfind("Read 5 classes")) << "read more than once";
}

TEST_F(RemapperTest, UnusableFilesFailEveryCallWithTheReason) {
  std::map<std::string, CGenericClass> classes{{"stale", {}}};
  std::vector<CGenericLink> links(1);
  CInstance object;
  object.m_className = "A";

  EXPECT_EQ(CRemapper::GetInstance()->GetClasses("NoValue", classes), 0);
  EXPECT_TRUE(classes.empty());
  EXPECT_NE(Trace().find("supported classes file of the agent NoValue"), std::string::npos) << Trace();

  Configure("NoFile", sandbox_.Path("missing.classes"), "");
  EXPECT_EQ(CRemapper::GetInstance()->GetLinks("NoFile", links), 0);
  EXPECT_TRUE(links.empty());
  EXPECT_NE(Trace().find("Unable to read the supported classes file " + sandbox_.Path("missing.classes")),
            std::string::npos);

  const std::string broken = sandbox_.Path("broken.classes");
  TestSandbox::WriteFile(broken, "class A B\nclass A C\n");
  Configure("Broken", broken, "");
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Broken", object), 0);
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Broken", object), 0);
  EXPECT_EQ(object.m_className, "A");
  const std::string line = "Supported classes file " + broken + ", line 2: class \"A\" is already listed at line 1";
  const std::string trace = Trace();
  const std::size_t first = trace.find(line);
  ASSERT_NE(first, std::string::npos) << trace;
  EXPECT_NE(trace.find(line, first + 1), std::string::npos) << "each call says why";
}

ULONGLONG fakeTicks = 0;
ULONGLONG FakeTicks() { return fakeTicks; }

TEST_F(RemapperTest, UnusableFileIsReadAgainOnceChangedOrAMinuteLater) {
  fakeTicks = 1000;
  auralink::model::SetRemapperTickSource(FakeTicks);
  const std::string file = sandbox_.Path("agent.classes");
  Configure("Agent", file, "");
  CInstance object;
  object.m_className = "A";
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Agent", object), 0) << "no file yet";
  TestSandbox::WriteFile(file, "class A B\nclass A C\n");
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Agent", object), 0) << "the file came, but malformed";
  EXPECT_NE(Trace().find("line 2: class \"A\" is already listed"), std::string::npos) << "read as soon as it came";

  // Mended in place with the same size and time: not noticed until a minute has passed.
  const auto modified = std::filesystem::last_write_time(file);
  TestSandbox::WriteFile(file, "class A B\nclass X C\n");
  std::filesystem::last_write_time(file, modified);
  fakeTicks += 59 * 1000;
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Agent", object), 0);
  fakeTicks += 1000;
  ASSERT_EQ(CRemapper::GetInstance()->Remap("Agent", object), 1) << Trace();
  EXPECT_EQ(object.m_className, "B");
  EXPECT_NE(Trace().find("The supported classes file " + file + " of the agent Agent is usable again"),
            std::string::npos);

  // A good reading stays, whatever happens to the file afterwards.
  std::filesystem::remove(file);
  fakeTicks += 3600 * 1000;
  object.m_className = "X";
  EXPECT_EQ(CRemapper::GetInstance()->Remap("Agent", object), 1);
}

TEST_F(RemapperTest, ShippedClassesFileServesBothAgentsFromTheModuleFolder) {
  // Registration names "tng.scl" beside the modules, as the agents' log files are.
  const std::string modules = AURALINK_MODULE_FOLDER;
  ASSERT_TRUE(std::filesystem::exists(modules + "/tng.scl")) << modules;
  for (const char* agent : {"QuillonLst", "MarrowbyLst"}) {
    Configure(agent, "tng.scl", modules + "\\" + agent + ".log");
    std::map<std::string, CGenericClass> classes;
    EXPECT_EQ(CRemapper::GetInstance()->GetClasses(agent, classes), 1) << Trace();
  }
  const auto wants = [](const char* agent, const char* className) {
    CInstance object;
    object.m_className = className;
    return CRemapper::GetInstance()->Remap(agent, object);
  };
  EXPECT_EQ(wants("QuillonLst", "Aggregate"), 1) << "the synthetic parent of unlinked objects";
  EXPECT_EQ(wants("QuillonLst", "Host"), 0);
  EXPECT_EQ(wants("MarrowbyLst", "Host"), 1);
  EXPECT_EQ(wants("MarrowbyLst", "Router"), 0);
}

}  // namespace
