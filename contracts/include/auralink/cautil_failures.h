// The process's count of `cautil` runs that failed: not startable, ended without writing a
// dump, or ended for running too long. The console-log listener counts them; zeltlisten
// shows the count in its once-a-minute line. Safe from any thread.
#pragma once

namespace auralink {

void CountCautilFailure();
unsigned long long CautilFailureCount();

}  // namespace auralink
