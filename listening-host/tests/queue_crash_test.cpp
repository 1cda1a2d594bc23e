// A process killed (SIGKILL, TerminateProcess) while it pushes and forwards, then started again: every
// operation whose push returned is delivered at least once.
#include <child_program.h>
#include <gtest/gtest.h>
#include <test_sandbox.h>

#include <chrono>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using auralink::testing::ChildProgram;
using auralink::testing::TestSandbox;

std::vector<int> Numbers(const std::string& path) {
  std::istringstream in(TestSandbox::ReadFile(path));
  std::vector<int> numbers;
  for (int n; in >> n;) numbers.push_back(n);
  return numbers;
}

// Waits up to `limit` until `path` holds at least `count` numbers.
void WaitForNumbers(const std::string& path, size_t count, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (Numbers(path).size() < count && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

TEST(QueueCrash, AKilledProcessDeliversEveryPushedOperationAfterItsRestart) {
  TestSandbox sandbox;
  const std::string delivered = sandbox.Path("delivered");
  const std::string pushed = sandbox.Path("pushed");

  // Kill it twice at different points, the second time while it still replays.
  ChildProgram first(QUEUE_CRASH_CHILD, {sandbox.Dir(), "400"});
  ASSERT_TRUE(first.Started());
  WaitForNumbers(delivered, 60, std::chrono::seconds(5));
  first.Kill();
  ASSERT_EQ(ChildProgram::kKilled, first.Wait());
  const size_t pushedBeforeKill = Numbers(pushed).size();
  ASSERT_GT(pushedBeforeKill, Numbers(delivered).size()) << "the kill should come with operations still queued";

  ChildProgram second(QUEUE_CRASH_CHILD, {sandbox.Dir(), "0"});
  WaitForNumbers(delivered, Numbers(delivered).size() + 10, std::chrono::seconds(2));
  second.Kill();
  second.Wait();

  ASSERT_EQ(0, ChildProgram(QUEUE_CRASH_CHILD, {sandbox.Dir(), "0"}).Wait());

  const std::vector<int> deliveredNumbers = Numbers(delivered);
  const std::set<int> deliveredSet(deliveredNumbers.begin(), deliveredNumbers.end());
  for (int n : Numbers(pushed)) EXPECT_TRUE(deliveredSet.count(n)) << n << " was pushed but never delivered";
  // Redelivery is limited to what was in flight: far fewer duplicates than operations.
  EXPECT_LT(deliveredNumbers.size() - deliveredSet.size(), 10u);
}

}  // namespace
