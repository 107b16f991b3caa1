#include "platform/local_time.h"

#include <sys/time.h>

#include <ctime>

namespace veltora::platform {

SYSTEMTIME GetLocalTime() {
  struct timeval now {};
  ::gettimeofday(&now, nullptr);
  struct tm local {};
  time_t seconds = now.tv_sec;
  ::localtime_r(&seconds, &local);
  SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(local.tm_year + 1900);
  t.wMonth = static_cast<uint16_t>(local.tm_mon + 1);
  t.wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
  t.wDay = static_cast<uint16_t>(local.tm_mday);
  t.wHour = static_cast<uint16_t>(local.tm_hour);
  t.wMinute = static_cast<uint16_t>(local.tm_min);
  t.wSecond = static_cast<uint16_t>(local.tm_sec);
  t.wMilliseconds = static_cast<uint16_t>(now.tv_usec / 1000);
  return t;
}

bool IsValidDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 0 || year > 9999 || month < 1 || month > 12) return false;
  static constexpr int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int days = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
  return day >= 1 && day <= days && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
         second >= 0 && second <= 59;
}

}  // namespace veltora::platform
