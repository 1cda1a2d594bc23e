// auralink-repogen: writes a stand-in repository for tests and the demo.
//   auralink-repogen --objects N --seed S --output FILE
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "repository_generator.h"

namespace {

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: auralink-repogen --objects N --seed S --output FILE\n"
               "  Writes a SQLite repository of N managed objects (1 to 10000000, default 1000)\n"
               "  generated from seed S (default 1); the same N and S give the same contents.\n");
}

bool ParseCount(const char* text, uint64_t& value) {
  if (!text || !*text || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = parsed;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  auralink::standins::RepositoryRequest request;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (option == "-h" || option == "--help") {
      Usage(stdout);
      return 0;
    }
    bool ok = false;
    if (option == "--objects") {
      ok = ParseCount(value, request.objects) && request.objects >= 1 && request.objects <= 10000000;
    } else if (option == "--seed") {
      ok = ParseCount(value, request.seed);
    } else if (option == "--output") {
      ok = value && *value;
      if (ok) output = value;
    } else {
      std::fprintf(stderr, "auralink-repogen: unknown option %s\n", option.c_str());
      Usage(stderr);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "auralink-repogen: %s needs a valid value\n", option.c_str());
      Usage(stderr);
      return 2;
    }
    ++i;
  }
  if (output.empty()) {
    std::fprintf(stderr, "auralink-repogen: --output is required\n");
    Usage(stderr);
    return 2;
  }

  auto started = std::chrono::steady_clock::now();
  auralink::standins::RepositoryCounts counts;
  std::string error;
  if (!auralink::standins::GenerateRepository(output, request, counts, error)) {
    std::fprintf(stderr, "auralink-repogen: %s\n", error.c_str());
    return 1;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%s: %llu objects, %llu inclusions, seed %llu, %.1f s\n", output.c_str(),
              static_cast<unsigned long long>(request.objects), static_cast<unsigned long long>(counts.inclusions),
              static_cast<unsigned long long>(request.seed), seconds);
  for (const auto& [className, count] : counts.objectsByClass)
    std::printf("  class %-14s %llu\n", className.c_str(), static_cast<unsigned long long>(count));
  for (const auto& [parents, count] : counts.objectsByParentCount)
    std::printf("  %d parent(s)     %llu\n", parents, static_cast<unsigned long long>(count));
  std::printf("  missing status  %llu\n  odd texts       %llu\n  NULL labels     %llu\n",
              static_cast<unsigned long long>(counts.missingStatus), static_cast<unsigned long long>(counts.oddTexts),
              static_cast<unsigned long long>(counts.nullLabels));
  return 0;
}
