#include "exif/date_text.h"

#include <cstdio>

#include "platform/hot_path.h"

namespace veltora::exif {
namespace {

// Texts end at their first NUL, like the C strings they were stored as.
VELTORA_HOT std::string_view UpToNul(std::string_view text) {
  const size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The number atoi reads from `n` characters at `at`: leading blanks, an
// optional sign, then decimal digits up to the first other character.
VELTORA_HOT int NumberAt(std::string_view text, size_t at, size_t n) {
  const std::string_view part = text.substr(at, n);
  size_t i = 0;
  while (i < part.size() && IsBlank(part[i])) ++i;
  const bool negative = i < part.size() && part[i] == '-';
  if (i < part.size() && (part[i] == '-' || part[i] == '+')) ++i;
  int value = 0;
  for (; i < part.size() && part[i] >= '0' && part[i] <= '9'; ++i) {
    value = value * 10 + (part[i] - '0');
  }
  return negative ? -value : value;
}

uint16_t U16(int v) { return static_cast<uint16_t>(v); }

}  // namespace

VELTORA_HOT bool ParseDateText(std::string_view text, std::string_view sub_second_text,
                               SYSTEMTIME* date_time) {
  text = UpToNul(text);
  if (date_time == nullptr || text.size() != kDateTextLength) return false;
  SYSTEMTIME t{};
  t.wYear = U16(NumberAt(text, 0, 4));
  t.wMonth = U16(NumberAt(text, 5, 2));
  t.wDay = U16(NumberAt(text, 8, 2));
  t.wHour = U16(NumberAt(text, 11, 2));
  t.wMinute = U16(NumberAt(text, 14, 2));
  t.wSecond = U16(NumberAt(text, 17, 2));
  const std::string_view sub = UpToNul(sub_second_text);
  if (sub.size() == 1) {
    t.wMilliseconds = U16(NumberAt(sub, 0, 1) * 100);
  } else if (sub.size() == 2) {
    t.wMilliseconds = U16(NumberAt(sub, 0, 2) * 10);
  } else if (sub.size() >= 3) {
    t.wMilliseconds = U16(NumberAt(sub, 0, 3));
  }
  *date_time = t;
  return true;
}

bool FormatDateText(std::string* text, std::string* sub_second_text,
                   const SYSTEMTIME& date_time) {
  if (text == nullptr || text->size() != kDateTextLength) return false;
  const std::string& old = *text;
  // Large enough for six 5-digit numbers and five separators.
  char formatted[48];
  std::snprintf(formatted, sizeof formatted, "%04d%c%02d%c%02d%c%02d%c%02d%c%02d",
                date_time.wYear, old[4], date_time.wMonth, old[7], date_time.wDay, old[10],
                date_time.wHour, old[13], date_time.wMinute, old[16], date_time.wSecond);
  *text = formatted;
  if (sub_second_text != nullptr && !sub_second_text->empty()) {
    const int ms = date_time.wMilliseconds;
    char digits[16];
    if (sub_second_text->size() == 1) {
      std::snprintf(digits, sizeof digits, "%01d", ms / 100);
      *sub_second_text = digits;
    } else if (sub_second_text->size() == 2) {
      std::snprintf(digits, sizeof digits, "%02d", ms / 10);
      *sub_second_text = digits;
    } else {
      std::snprintf(digits, sizeof digits, "%03d", ms);
      *sub_second_text = digits + sub_second_text->substr(3);
    }
  }
  return true;
}

}  // namespace veltora::exif
