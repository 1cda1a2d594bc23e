// The times of the console-log listener: the date texts of `cautil` query windows, the end
// of the local day, and the event time of a message.
#pragma once
#include <ctime>
#include <string>
#include <string_view>

namespace marrowby {

// `t` in local time as "07/Dec/2026,03:54:18" (month names of the C locale).
std::string FormatDateText(std::time_t t);
// 23:59:59 local time of the day of `t`.
std::time_t EndOfLocalDay(std::time_t t);
// `t` in local time as "HH:MM:SS".
std::string FormatClockText(std::time_t t);

// The event time of a message read at `now` whose Time column is `timeText` ("HH:MM:SS";
// the digits atoi finds in each part, 0 where none): that time on the local date of `now`,
// less the local zone's standard offset from UTC. The dump's Date column is not used, so
// every message is dated on the day it is read.
std::time_t SecondsFromEpochGmt(std::time_t now, std::string_view timeText);

}  // namespace marrowby
