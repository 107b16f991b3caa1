#include <windows.h>

#include "platform/local_time.h"

namespace veltora::platform {

SYSTEMTIME GetLocalTime() {
  ::SYSTEMTIME now{};
  ::GetLocalTime(&now);
  SYSTEMTIME t{};
  t.wYear = now.wYear;
  t.wMonth = now.wMonth;
  t.wDayOfWeek = now.wDayOfWeek;
  t.wDay = now.wDay;
  t.wHour = now.wHour;
  t.wMinute = now.wMinute;
  t.wSecond = now.wSecond;
  t.wMilliseconds = now.wMilliseconds;
  return t;
}

}  // namespace veltora::platform
