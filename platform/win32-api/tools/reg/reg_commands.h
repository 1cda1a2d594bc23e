// The five operations of auralink-reg, each on the registry through the Reg* functions.
// Each answers the exit status: 0 success, 1 failure with an "ERROR: ..." line on
// standard error (or a question answered "no").
#pragma once
#include "reg_arguments.h"

namespace auralink::reg {

int RunOperation(const Arguments& arguments);

}  // namespace auralink::reg
