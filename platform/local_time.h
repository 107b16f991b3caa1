// Local time and the calendar check of the date-time value type.
#ifndef VELTORA_PLATFORM_LOCAL_TIME_H_
#define VELTORA_PLATFORM_LOCAL_TIME_H_

#include "interface/host_types.h"

namespace veltora::platform {

// The current local time, milliseconds included.
SYSTEMTIME GetLocalTime();

// The date-time value type accepts years 0 to 9999, months 1 to 12, days
// that exist in that month (leap years by the Gregorian rule), hours 0 to 23,
// minutes and seconds 0 to 59.
bool IsValidDateTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_LOCAL_TIME_H_
