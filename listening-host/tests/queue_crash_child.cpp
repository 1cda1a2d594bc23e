// A process for the kill test: it pushes `count` numbered operations into a journalled
// queue, one every millisecond, while a forwarder that takes a few milliseconds per
// operation appends each number it is handed to "delivered". After each push returns, the
// number goes to "pushed". With a count of 0 it only forwards what the journal still
// holds, then ends.
//   queue_crash_child <folder> <count>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "operation_queue.h"

namespace {

// Each line reaches the system before the function returns, so a kill cannot take it back.
void AppendLine(std::FILE* file, const std::string& text) {
  const std::string line = text + "\n";
  if (std::fwrite(line.data(), 1, line.size(), file) != line.size() || std::fflush(file) != 0) std::_Exit(3);
}

void SleepMilliseconds(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

class NumberWriter : public OperationForwarder {
 public:
  explicit NumberWriter(std::FILE* file) : file_(file) {}
  int Forward(const QueuedOperation& op) override {
    SleepMilliseconds(3);
    AppendLine(file_, op.id);
    return 1;
  }

 private:
  std::FILE* file_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  std::FILE* delivered = std::fopen((folder + "/delivered").c_str(), "ab");
  std::FILE* pushed = std::fopen((folder + "/pushed").c_str(), "ab");
  if (!delivered || !pushed) return 2;

  NumberWriter writer(delivered);
  OperationQueue queue(std::make_unique<OperationJournal>(folder, "CrashLst"));
  if (!queue.Start(&writer)) return 1;
  for (int i = 1; i <= count; ++i) {
    if (!queue.Push(7, std::to_string(i), "event " + std::to_string(i))) return 1;
    AppendLine(pushed, std::to_string(i));
    SleepMilliseconds(1);
  }
  return queue.Close(60000) == 0 ? 0 : 1;
}
