#include "exif/date_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace veltora::exif {
namespace {

SYSTEMTIME Date(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                uint16_t ms) {
  return {y, mo, 0, d, h, mi, s, ms};
}

TEST(ParseDateTextTest, NumbersAndSubSecondPrecision) {
  struct {
    const char* sub;
    uint16_t ms;
  } cases[] = {{"", 0}, {"7", 700}, {"12", 120}, {"123", 123}, {"123456", 123}, {"05", 50}};
  for (const auto& c : cases) {
    SYSTEMTIME t{};
    t.wDayOfWeek = 5;
    ASSERT_EQ(ParseDateText("2006:05:14 09:30:05", c.sub, &t), 1) << c.sub;
    const SYSTEMTIME expected = Date(2006, 5, 14, 9, 30, 5, c.ms);  // day of the week 0
    EXPECT_EQ(std::memcmp(&t, &expected, sizeof t), 0) << "sub-second '" << c.sub << "'";
  }
}

TEST(ParseDateTextTest, LengthIsCheckedButSeparatorsAndDigitsAreNot) {
  SYSTEMTIME t = Date(1, 1, 1, 1, 1, 1, 1);
  EXPECT_EQ(ParseDateText("2006:05:14 09:30:0", "", &t), 0);
  EXPECT_EQ(ParseDateText("2006:05:14 09:30:055", "", &t), 0);
  // A stored text with its NUL counts as 19 characters; one cut short by a NUL does not.
  EXPECT_EQ(ParseDateText(std::string("2006:05:14 09:30:0\0X", 20), "", &t), 0);
  EXPECT_EQ(t.wYear, 1);  // untouched on failure
  ASSERT_EQ(ParseDateText(std::string("2006:05:14 09:30:05\0", 20), "", &t), 1);
  ASSERT_EQ(ParseDateText("2006/05/14-09.30.05", "", &t), 1);
  EXPECT_EQ(std::tuple(t.wMonth, t.wSecond), std::tuple(5, 5));
  ASSERT_EQ(ParseDateText("    :  :     :  :  ", "", &t), 1);  // an unset camera clock
  EXPECT_EQ(std::tuple(t.wYear, t.wSecond), std::tuple(0, 0));
  ASSERT_EQ(ParseDateText(" 7x9:-1:1a 09:30:05", "", &t), 1);
  // Conversion stops at the first non-digit.
  EXPECT_EQ(std::tuple(t.wYear, t.wMonth, t.wDay), std::tuple(7, uint16_t(-1), 1));
}

TEST(FormatDateTextTest, KeepsSeparatorsAndSubSecondPrecision) {
  std::string text = "2001/01/01-00.00.00";
  std::string sub = "12";
  ASSERT_EQ(FormatDateText(&text, &sub, Date(2024, 2, 29, 23, 5, 9, 345)), 1);
  EXPECT_EQ(std::tuple(text, sub), std::tuple("2024/02/29-23.05.09", "34"));
  struct {
    const char* old_sub;
    const char* new_sub;
  } cases[] = {{"1", "3"}, {"12", "34"}, {"123", "345"}, {"12345", "34545"}, {"", ""}};
  for (const auto& c : cases) {
    std::string t = "2001:01:01 00:00:00";
    std::string s = c.old_sub;
    ASSERT_EQ(FormatDateText(&t, &s, Date(2001, 1, 1, 0, 0, 0, 345)), 1);
    EXPECT_EQ(s, c.new_sub) << "old '" << c.old_sub << "'";
  }
  std::string t = "2001:01:01 00:00:00";
  EXPECT_EQ(FormatDateText(&t, nullptr, Date(7, 1, 2, 3, 4, 5, 0)), 1);
  EXPECT_EQ(t, "0007:01:02 03:04:05");
}

TEST(FormatDateTextTest, RefusesAMissingOrMisshapenTemplate) {
  std::string sub = "12";
  for (const char* old : {"", "2001:01:01 00:00:0", "2001:01:01 00:00:000"}) {
    std::string text = old;
    EXPECT_EQ(FormatDateText(&text, &sub, Date(2024, 1, 1, 0, 0, 0, 0)), 0) << old;
    EXPECT_EQ(std::tuple(text, sub), std::tuple(old, "12"));
  }
  EXPECT_EQ(FormatDateText(nullptr, &sub, Date(2024, 1, 1, 0, 0, 0, 0)), 0);
}

}  // namespace
}  // namespace veltora::exif
