#include <auralink/cautil_failures.h>

#include <atomic>

namespace auralink {
namespace {

// One count for the process: the listener's module and the program share this library.
std::atomic<unsigned long long> failures{0};

}  // namespace

void CountCautilFailure() { ++failures; }

unsigned long long CautilFailureCount() { return failures.load(); }

}  // namespace auralink
