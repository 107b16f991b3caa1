// The capture-date argument of the subcommands that write one:
// "YYYY:MM:DD HH:MM:SS", as the date reads in the file.
#ifndef VELTORA_HOST_COMMANDS_DATE_ARGUMENT_H_
#define VELTORA_HOST_COMMANDS_DATE_ARGUMENT_H_

#include <cstdio>
#include <string>

#include "host/host_error.h"
#include "plugin/veltora.h"

namespace veltora::host {

// Throws HostError (a usage error) when the text has another form.
inline SYSTEMTIME ParseDateArgument(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  if (text.size() != 19 ||
      std::sscanf(text.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
          6) {
    throw HostError("the date must read YYYY:MM:DD HH:MM:SS");
  }
  SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(y);
  t.wMonth = static_cast<uint16_t>(mo);
  t.wDay = static_cast<uint16_t>(d);
  t.wHour = static_cast<uint16_t>(h);
  t.wMinute = static_cast<uint16_t>(mi);
  t.wSecond = static_cast<uint16_t>(s);
  return t;
}

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMANDS_DATE_ARGUMENT_H_
