// The clock by which the remapper decides when to read an unusable supported-classes file
// again. Tests replace it to pass a minute without waiting.
#pragma once
#include <windows.h>
#include <windef.h>

namespace auralink::model {

using TickSource = ULONGLONG (*)();

// Milliseconds of the remapper's clock: GetTickCount64 unless replaced.
ULONGLONG RemapperTicks();
// Replaces the clock; nullptr restores GetTickCount64.
void SetRemapperTickSource(TickSource source);

}  // namespace auralink::model
