#include "console_log_time.h"

#include <cstdlib>

#include "console_log_record.h"

namespace marrowby {

namespace {

std::tm LocalCalendar(std::time_t t) {
  std::tm calendar{};
  localtime_r(&t, &calendar);
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
  std::tm calendar = LocalCalendar(now);
  calendar.tm_hour = LeadingNumber(Mid(timeText, 0, 2));
  calendar.tm_min = LeadingNumber(Mid(timeText, 3, 2));
  calendar.tm_sec = LeadingNumber(Mid(timeText, 6, 2));
  calendar.tm_isdst = -1;
  std::time_t local = std::mktime(&calendar);
  // Read the UTC calendar of that moment back as local standard time: the difference is
  // the zone's standard offset.
  std::tm utc{};
  gmtime_r(&local, &utc);
  utc.tm_isdst = 0;
  return std::mktime(&utc);
}

}  // namespace marrowby
