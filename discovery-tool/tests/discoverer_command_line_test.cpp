// What the discovery driver takes from its command line: the accepted forms in their one
// order, each option at most once, and nothing read past the last word.
#include <auralink/trace_utils.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>

#include <string>
#include <vector>

#include "discoverer.h"

namespace {

class DiscovererCommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { CTraceUtils::GetInstance()->LogInitAppend(sandbox.TraceFile().c_str(), -1, 0, -1); }
  void TearDown() override { CTraceUtils::GetInstance()->Close(); }

  // Parses "zeltdiscovery <words>" into `discoverer`.
  static int Parse(CDiscoverer& discoverer, std::vector<std::string> words) {
    words.insert(words.begin(), "zeltdiscovery");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return discoverer.ParseCommandLine(static_cast<int>(words.size()), argv.data(), 1);
  }
  bool Traced(const std::string& text) const {
    return auralink::testing::TestSandbox::ReadFile(sandbox.TraceFile()).find(text) != std::string::npos;
  }

  auralink::testing::TestSandbox sandbox;
};

TEST_F(DiscovererCommandLineTest, EveryOptionInItsPlaceIsTaken) {
  CDiscoverer none;
  EXPECT_EQ(Parse(none, {}), 1);
  EXPECT_TRUE(Traced("No options specified. All instances will be discovered with normal slowing time."));
  EXPECT_EQ(none.SlowingTime(), 100);

  CDiscoverer all;
  EXPECT_EQ(Parse(all, {"-c", "IpSubnet", "-ps", "MAXIMUM", "-log", "-lf", "mode.log", "-verbose"}), 1);
  EXPECT_EQ(all.ClassName(), "IpSubnet");
  EXPECT_EQ(all.SlowingTime(), 500);
  EXPECT_EQ(all.LoggingMode(), 1);
  EXPECT_EQ(all.LoggingModeFile(), "mode.log");
  EXPECT_EQ(all.Verbose(), 1);

  CDiscoverer one;
  EXPECT_EQ(Parse(one, {"-id", "A1", "-log"}), 1);
  EXPECT_EQ(one.InstanceId(), "A1");
  EXPECT_EQ(one.LoggingMode(), 1);
  EXPECT_TRUE(one.LoggingModeFile().empty());

  CDiscoverer minimum;
  EXPECT_EQ(Parse(minimum, {"-ps", "Minimum"}), 1);
  EXPECT_EQ(minimum.SlowingTime(), 0);
}

TEST_F(DiscovererCommandLineTest, AnythingElseIsInvalid) {
  const std::vector<std::vector<std::string>> invalid = {
      {"-ID", "x"},     {"-ps", "fast"},        {"-id", "x", "-ps", "normal"}, {"-c", "A", "-id", "x"},
      {"-id"},          {"-c"},                 {"-ps"},                       {"-log", "-lf"},
      {"-verbose", "-log"}, {"-log", "-log"},   {"-c", "A", "extra"},          {"-h"},
      {"-id", ""},      {"-c", "", "-log"}};  // an empty value would leave the run unrestricted
  for (const auto& words : invalid) {
    CDiscoverer discoverer;
    EXPECT_EQ(Parse(discoverer, words), 0) << words[0];
  }
  EXPECT_TRUE(Traced("Wrong slowing time has been specified"));
  EXPECT_TRUE(Traced("An empty instance id has been specified"));
}

}  // namespace
