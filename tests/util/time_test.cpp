#include "util/time.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "util/codepage.h"

namespace pansift {
namespace {

// 5 March 2024, 14:07:09 local time.
std::time_t Moment() {
  std::tm tm{};
  tm.tm_year = 124;
  tm.tm_mon = 2;
  tm.tm_mday = 5;
  tm.tm_hour = 14;
  tm.tm_min = 7;
  tm.tm_sec = 9;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(FormatLocalTime, StylesAndParts) {
  using enum TimeStyle;
  using enum TimeParts;
  struct Case {
    TimeStyle style;
    TimeParts parts;
    HourMode hourMode;
    const char* utf8;
  } cases[] = {
      {kDashes, kDateAndTime, HourMode::k24, "2024-03-05 14:07:09"},
      {kDashes, kTime, HourMode::k24, "14:07:09"},
      {kDashes, kTime, HourMode::k12, "02:07:09"},
      {kChinese, kDateAndTime, HourMode::k24, "2024年03月05日 14时07分09秒"},
      {kDigits, kDateAndTime, HourMode::k24, "20240305140709"},
      {kSlashes, kDateAndTime, HourMode::k24, "2024/03/05 14/07/09"},
      {kDashes, kDate, HourMode::k24, "2024-03-05"},
      {kDashes, kMonthDay, HourMode::k24, "03-05"},
      {kDashes, kHourMinute, HourMode::k24, "14:07"},
      {kChinese, kMinuteSecond, HourMode::k24, "07分09秒"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatLocalTime(Moment(), c.style, c.parts, c.hourMode), L8(c.utf8))
        << "style " << static_cast<int>(c.style) << " parts " << static_cast<int>(c.parts);
  }
}

TEST(FormatLocalTime, HourModeFollowsTheLocale) {
  const char* saved = std::getenv("LC_ALL");
  setenv("LC_ALL", "C", 1);
  EXPECT_TRUE(LocaleUses24Hour());
  EXPECT_EQ(FormatLocalTime(Moment(), TimeStyle::kDashes, TimeParts::kTime), "14:07:09");
  if (saved)
    setenv("LC_ALL", saved, 1);
  else
    unsetenv("LC_ALL");
}

}  // namespace
}  // namespace pansift
