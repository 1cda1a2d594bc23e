#include "usage_text.h"

#include <cstdio>

namespace zeltsetup {

namespace {

// The adapter options both modes share; continuation lines line up under the first
// option, after "Usage: zeltsetup -i ".
constexpr const char* kAdapterOptions =
    "                    [-reqport <Request Port Number>]\n"
    "                    [-resport <Response Port Number>]\n"
    "                    [-svrport <Server Port Number>]\n"
    "                    [-svraddress <Server Address>]\n"
    "                    [-lqs (file | memory)]\n"
    "                    [-rqs (file | memory)]\n";

}  // namespace

void PrintUsage() {
  std::fputs("\nUsage: zeltsetup -i [-log (on [-lf <Log File Name>] | off) ]\n", stdout);
  std::fputs(kAdapterOptions, stdout);
  std::fputs("                    [-refresh <Refresh Time>]\n\n", stdout);
  std::fputs("       zeltsetup -h\n\n", stdout);
  std::fflush(stdout);

  std::fputs("\nUsage: zeltsetup -e [-log (on [-lf <Log File Name>] | off)]\n", stdout);
  std::fputs(kAdapterOptions, stdout);
  std::fputs("                    [-refresh <Refresh Time>]\n", stdout);
  std::fputs("                    [-startmode (cold | warm)]\n", stdout);
  std::fputs("                    [-msgfilter (a | d)]\n", stdout);
  std::fputs("                    [-subnetmask <Subnet Mask>]\n\n", stdout);
  std::fputs("       zeltsetup -h\n\n", stdout);
  std::fflush(stdout);
}

}  // namespace zeltsetup
