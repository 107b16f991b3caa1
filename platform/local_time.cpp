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

}  // namespace veltora::platform
