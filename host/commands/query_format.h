// How the EXIF query subcommands show values: dates as EXIF text, rationals
// as n/d, bytes as hex. Shared by exif.cpp, get.cpp, maker.cpp and date.cpp.
#ifndef VELTORA_HOST_COMMANDS_QUERY_FORMAT_H_
#define VELTORA_HOST_COMMANDS_QUERY_FORMAT_H_

#include <fmt/format.h>

#include <cstdint>
#include <span>
#include <string>

#include "frame/veltora.h"

namespace veltora::host {

// "YYYY:MM:DD hh:mm:ss", the form the date has in the file.
inline std::string DateText(const SYSTEMTIME& t) {
  return fmt::format("{:04}:{:02}:{:02} {:02}:{:02}:{:02}", t.wYear, t.wMonth, t.wDay, t.wHour,
                     t.wMinute, t.wSecond);
}

// "1/250"; the decimal is left to the caller, since a zero denominator has none.
template <typename T>
std::string RationalText(T numerator, T denominator) {
  return fmt::format("{}/{}", numerator, denominator);
}

// "1/250 (0.004)", or "0/0 (undefined)".
template <typename T>
std::string RationalWithDecimal(T numerator, T denominator) {
  if (denominator == 0) return RationalText(numerator, denominator) + " (undefined)";
  return fmt::format("{} ({:.10g})", RationalText(numerator, denominator),
                     static_cast<double>(numerator) / static_cast<double>(denominator));
}

// "01 02 0a".
inline std::string HexBytes(std::span<const uint8_t> bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) text += ' ';
    text += fmt::format("{:02x}", bytes[i]);
  }
  return text;
}

// "0x010F".
inline std::string TagText(uint32_t tag) { return fmt::format("0x{:04X}", tag); }

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMANDS_QUERY_FORMAT_H_
