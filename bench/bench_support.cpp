#include "bench_support.h"

#include <algorithm>
#include <cstdint>

namespace auralink::bench {

namespace {

// The block that the C library's allocator takes for a request of `bytes`: the request and
// one size word, rounded up to 16 bytes, at least 32.
size_t AllocatedBlock(size_t bytes) { return std::max<size_t>(32, (bytes + sizeof(size_t) + 15) & ~size_t{15}); }

}  // namespace

const char* const kStandInClasses[10] = {"IpNetwork", "IpSubnet",      "WindowsServer", "UnixServer",  "Workstation",
                                         "Router",    "NetworkSwitch", "Printer",       "SystemAgent", "DatabaseAgent"};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

size_t IdentifierElementBytes(size_t characters) {
  return sizeof(VARIANT) + AllocatedBlock(sizeof(uint32_t) + (characters + 1) * sizeof(OLECHAR));
}

}  // namespace auralink::bench
