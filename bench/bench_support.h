// What the repository benchmarks share: the classes of the stand-in repository, the clock,
// and the size of the identifier array that a discovery has to hold.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <chrono>
#include <cstddef>

namespace auralink::bench {

// Every class the stand-in repository generator writes.
extern const char* const kStandInClasses[10];

double SecondsSince(std::chrono::steady_clock::time_point start);

// The identifier array's descriptor alone; each element adds IdentifierElementBytes.
inline size_t IdentifierArrayBaseBytes() { return sizeof(SAFEARRAY); }
// One element of the identifier array: its VARIANT and the block allocated for its BSTR
// (length prefix, `characters` characters and the terminator).
size_t IdentifierElementBytes(size_t characters);

}  // namespace auralink::bench
