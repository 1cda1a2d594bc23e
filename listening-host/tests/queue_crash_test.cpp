// A process killed with SIGKILL while it pushes and forwards, then started again: every
// operation whose push returned is delivered at least once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <test_sandbox.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <sstream>
#include <vector>

namespace {

using auralink::testing::TestSandbox;

pid_t Spawn(const std::string& folder, int count) {
  const std::string countText = std::to_string(count);
  const pid_t child = fork();
  if (child == 0) {
    execl(QUEUE_CRASH_CHILD, QUEUE_CRASH_CHILD, folder.c_str(), countText.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

std::vector<int> Numbers(const std::string& path) {
  std::istringstream in(TestSandbox::ReadFile(path));
  std::vector<int> numbers;
  for (int n; in >> n;) numbers.push_back(n);
  return numbers;
}

int ExitCode(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(QueueCrash, AKilledProcessDeliversEveryPushedOperationAfterItsRestart) {
  TestSandbox sandbox;
  const std::string delivered = sandbox.Path("delivered");
  const std::string pushed = sandbox.Path("pushed");

  // Kill it twice at different points, the second time while it still replays.
  const pid_t first = Spawn(sandbox.Dir(), 400);
  ASSERT_GT(first, 0);
  for (int i = 0; i < 1000 && Numbers(delivered).size() < 60; ++i) usleep(5000);
  kill(first, SIGKILL);
  ASSERT_EQ(-SIGKILL, ExitCode(first));
  const size_t pushedBeforeKill = Numbers(pushed).size();
  ASSERT_GT(pushedBeforeKill, Numbers(delivered).size()) << "the kill should come with operations still queued";

  const pid_t second = Spawn(sandbox.Dir(), 0);
  const size_t deliveredBefore = Numbers(delivered).size();
  for (int i = 0; i < 1000 && Numbers(delivered).size() < deliveredBefore + 10; ++i) usleep(2000);
  kill(second, SIGKILL);
  ExitCode(second);

  ASSERT_EQ(0, ExitCode(Spawn(sandbox.Dir(), 0)));

  const std::vector<int> deliveredNumbers = Numbers(delivered);
  const std::set<int> deliveredSet(deliveredNumbers.begin(), deliveredNumbers.end());
  for (int n : Numbers(pushed)) EXPECT_TRUE(deliveredSet.count(n)) << n << " was pushed but never delivered";
  // Redelivery is limited to what was in flight: far fewer duplicates than operations.
  EXPECT_LT(deliveredNumbers.size() - deliveredSet.size(), 10u);
}

}  // namespace
