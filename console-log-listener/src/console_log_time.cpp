#include "console_log_time.h"

#include <cstdlib>

#include <auralink/platform/calendar.h>

#include "console_log_record.h"

namespace marrowby {

namespace {

std::tm LocalCalendar(std::time_t t) {
  std::tm calendar{};
  auralink::platform::LocalCalendar(t, calendar);
  return calendar;
}

std::string Format(std::time_t t, const char* pattern) {
  std::tm calendar = LocalCalendar(t);
  char text[64];
  size_t length = std::strftime(text, sizeof text, pattern, &calendar);
  return std::string(text, length);
}

// atoi of a piece of a time text (atoi needs a terminated string).
int LeadingNumber(std::string_view piece) { return std::atoi(std::string(piece).c_str()); }

}  // namespace

std::string FormatDateText(std::time_t t) { return Format(t, "%d/%b/%Y,%H:%M:%S"); }

std::string FormatClockText(std::time_t t) { return Format(t, "%H:%M:%S"); }

std::time_t EndOfLocalDay(std::time_t t) {
  std::tm calendar = LocalCalendar(t);
  calendar.tm_hour = 23;
  calendar.tm_min = 59;
  calendar.tm_sec = 59;
  calendar.tm_isdst = -1;  // the system decides
  return std::mktime(&calendar);
}

std::time_t SecondsFromEpochGmt(std::time_t now, std::string_view timeText) {
  const int hours = LeadingNumber(Mid(timeText, 0, 2));
  const int minutes = LeadingNumber(Mid(timeText, 3, 2));
  const int seconds = LeadingNumber(Mid(timeText, 6, 2));
  // The C library's local-time calls look at the zone file each time, which would make
  // them most of the cost of a record. Each thread keeps the day of the `now` it last saw;
  // on a day without a clock change, a time of that day is its midnight plus its seconds.
  struct Day {
    std::time_t now = -1;
    std::string zone;
    std::tm date{};
    std::time_t midnight = 0;
    std::time_t standardOffset = 0;
    bool uniform = false;  // no clock change during the day
  };
  thread_local Day day;
  const char* zone = std::getenv("TZ");
  if (now != day.now || day.zone != (zone ? zone : "")) {
    day.now = now;
    day.zone = zone ? zone : "";
    day.date = LocalCalendar(now);
    std::tm midnight = day.date;
    midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
    midnight.tm_isdst = -1;
    day.midnight = std::mktime(&midnight);
    day.uniform = EndOfLocalDay(now) - day.midnight == 86399;
    // Read the UTC calendar of a moment back as local standard time: the difference is
    // the zone's standard offset.
    std::tm utc{};
    auralink::platform::UtcCalendar(day.midnight, utc);
    utc.tm_isdst = 0;
    day.standardOffset = day.midnight - std::mktime(&utc);
  }
  const bool inDay = hours >= 0 && hours < 24 && minutes >= 0 && minutes < 60 && seconds >= 0 && seconds < 60;
  if (day.uniform && inDay) return day.midnight + hours * 3600 + minutes * 60 + seconds - day.standardOffset;

  std::tm calendar = day.date;
  calendar.tm_hour = hours;
  calendar.tm_min = minutes;
  calendar.tm_sec = seconds;
  calendar.tm_isdst = -1;
  std::time_t local = std::mktime(&calendar);
  std::tm utc{};
  auralink::platform::UtcCalendar(local, utc);
  utc.tm_isdst = 0;
  return std::mktime(&utc);
}

}  // namespace marrowby
