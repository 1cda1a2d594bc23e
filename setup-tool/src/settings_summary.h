// The summary of an agent's current settings, on standard output.
#pragma once
#include "setup_agent.h"

namespace zeltsetup {

// Every setting that is absent is shown with its default or a notice saying it must be
// set; the defaults taken and the settings missing are traced.
void PrintSummary(const SetupAgent& agent);

}  // namespace zeltsetup
