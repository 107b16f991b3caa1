// EXIF date-and-time text ("YYYY:MM:DD hh:mm:ss", 19 characters, stored as 20
// bytes with the NUL) and sub-second text (decimal digits of any length).
#ifndef VELTORA_EXIF_DATE_TEXT_H_
#define VELTORA_EXIF_DATE_TEXT_H_

#include <string>
#include <string_view>

#include "interface/host_types.h"

namespace veltora::exif {

inline constexpr size_t kDateTextLength = 19;
inline constexpr size_t kDateTextStoredSize = 20;

// Fills `date_time` from the text; false (and `date_time` untouched) when the
// text is not exactly 19 characters before its first NUL. Separators are not
// examined; each number converts like atoi (blanks, sign, stops at a non-digit).
// Milliseconds come from the sub-second text scaled to three digits; day of
// week is 0.
[[nodiscard]] bool ParseDateText(std::string_view text, std::string_view sub_second_text,
                                 SYSTEMTIME* date_time);

// Rewrites `*text` from `date_time`, keeping the old text's separators; false (and
// nothing changed) when `text` is null or not 19 characters long. A non-empty
// `*sub_second_text` is rewritten at its old precision; characters past the
// third stay as they were.
[[nodiscard]] bool FormatDateText(std::string* text, std::string* sub_second_text,
                                  const SYSTEMTIME& date_time);

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_DATE_TEXT_H_
