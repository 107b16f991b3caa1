// The capture-date argument of the subcommands that write one:
// "YYYY:MM:DD HH:MM:SS", as the date reads in the file.
#ifndef VELTORA_HOST_COMMANDS_DATE_ARGUMENT_H_
#define VELTORA_HOST_COMMANDS_DATE_ARGUMENT_H_

#include <chrono>
#include <cstdio>
#include <optional>
#include <regex>
#include <string>

#include "frame/veltora.h"
#include "host/host_error.h"

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

// "+2:00", "-1 02:30:15": a sign, optional whole days, hours and minutes,
// optional seconds. Throws HostError (a usage error) for another form.
inline std::chrono::seconds ParseDateOffset(const std::string& text) {
  static const std::regex form(R"(([+-])(?:(\d{1,5}) )?(\d{1,3}):([0-5]\d)(?::([0-5]\d))?)");
  std::smatch part;
  if (!std::regex_match(text, part, form)) {
    throw HostError("the offset must read +HH:MM[:SS] or -HH:MM[:SS], with days as +\"D HH:MM\"");
  }
  const auto number = [&](size_t i) { return part[i].matched ? std::stoi(part[i].str()) : 0; };
  const std::chrono::seconds offset = std::chrono::days(number(2)) + std::chrono::hours(number(3)) +
                                      std::chrono::minutes(number(4)) + std::chrono::seconds(number(5));
  return part[1] == "-" ? -offset : offset;
}

// `date` moved by `offset` by the calendar; nullopt when the result leaves
// the years 1 to 9999 that the date text can hold.
inline std::optional<SYSTEMTIME> ShiftDate(const SYSTEMTIME& date, std::chrono::seconds offset) {
  using namespace std::chrono;
  const sys_days day{year{date.wYear} / month{date.wMonth} / std::chrono::day{date.wDay}};
  const sys_seconds moved = day + hours(date.wHour) + minutes(date.wMinute) + seconds(date.wSecond) + offset;
  const sys_days moved_day = floor<days>(moved);
  const year_month_day ymd{moved_day};
  const hh_mm_ss time{moved - moved_day};
  if (ymd.year() < year{1} || ymd.year() > year{9999}) return std::nullopt;
  SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(static_cast<int>(ymd.year()));
  t.wMonth = static_cast<uint16_t>(static_cast<unsigned>(ymd.month()));
  t.wDay = static_cast<uint16_t>(static_cast<unsigned>(ymd.day()));
  t.wHour = static_cast<uint16_t>(time.hours().count());
  t.wMinute = static_cast<uint16_t>(time.minutes().count());
  t.wSecond = static_cast<uint16_t>(time.seconds().count());
  return t;
}

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMANDS_DATE_ARGUMENT_H_
