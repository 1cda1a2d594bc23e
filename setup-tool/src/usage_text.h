// The usage text of zeltsetup, on standard output.
#pragma once

namespace zeltsetup {

void PrintUsage();

}  // namespace zeltsetup
