#include <auralink/platform/calendar.h>

namespace auralink::platform {

bool LocalCalendar(std::time_t t, std::tm& calendar) {
#ifdef _WIN32
  return localtime_s(&calendar, &t) == 0;
#else
  return localtime_r(&t, &calendar) != nullptr;
#endif
}

bool UtcCalendar(std::time_t t, std::tm& calendar) {
#ifdef _WIN32
  return gmtime_s(&calendar, &t) == 0;
#else
  return gmtime_r(&t, &calendar) != nullptr;
#endif
}

}  // namespace auralink::platform
