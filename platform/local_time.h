// Local time (local_time.cpp on Linux, local_time_win32.cpp on Windows) and
// the calendar check of the date-time value type.
#ifndef VELTORA_PLATFORM_LOCAL_TIME_H_
#define VELTORA_PLATFORM_LOCAL_TIME_H_

#include "interface/host_types.h"

namespace veltora::platform {

// The current local time, milliseconds included.
SYSTEMTIME GetLocalTime();

// The date-time value type accepts years 0 to 9999, months 1 to 12, days
// that exist in that month (leap years by the Gregorian rule), hours 0 to 23,
// minutes and seconds 0 to 59.
inline bool IsValidDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 0 || year > 9999 || month < 1 || month > 12) return false;
  static constexpr int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int days = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
  return day >= 1 && day <= days && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
         second >= 0 && second <= 59;
}

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_LOCAL_TIME_H_
