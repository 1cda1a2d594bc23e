// A process for the kill test: it pushes `count` numbered operations into a journalled
// queue, one every millisecond, while a forwarder that takes a few milliseconds per
// operation appends each number it is handed to "delivered". After each push returns, the
// number goes to "pushed". With a count of 0 it only forwards what the journal still
// holds, then ends.
//   queue_crash_child <folder> <count>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "operation_queue.h"

namespace {

void AppendLine(int fd, const std::string& text) {
  const std::string line = text + "\n";
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::_Exit(3);
}

class NumberWriter : public OperationForwarder {
 public:
  explicit NumberWriter(int fd) : fd_(fd) {}
  int Forward(const QueuedOperation& op) override {
    usleep(3000);
    AppendLine(fd_, op.id);
    return 1;
  }

 private:
  int fd_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  const int delivered = open((folder + "/delivered").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  const int pushed = open((folder + "/pushed").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (delivered < 0 || pushed < 0) return 2;

  NumberWriter writer(delivered);
  OperationQueue queue(std::make_unique<OperationJournal>(folder, "CrashLst"));
  if (!queue.Start(&writer)) return 1;
  for (int i = 1; i <= count; ++i) {
    if (!queue.Push(7, std::to_string(i), "event " + std::to_string(i))) return 1;
    AppendLine(pushed, std::to_string(i));
    usleep(1000);
  }
  return queue.Close(60000) == 0 ? 0 : 1;
}
