// Calendar conversions that are thread-safe on both systems (localtime_r/gmtime_r on
// Linux, localtime_s/gmtime_s on Windows).
#pragma once
#include <ctime>

namespace auralink::platform {
// The local calendar of a moment (time zone and daylight saving of the system); false
// when the moment cannot be converted.
bool LocalCalendar(std::time_t t, std::tm& calendar);
// The UTC calendar of a moment.
bool UtcCalendar(std::time_t t, std::tm& calendar);
}  // namespace auralink::platform
