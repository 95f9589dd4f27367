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
  struct Case {
    int style, parts, hourMode;
    const char* utf8;
  } cases[] = {
      {1, 0, kHour24, "2024-03-05 14:07:09"},
      {1, 3, kHour24, "14:07:09"},
      {1, 3, kHour12, "02:07:09"},
      {0, 0, kHour24, "2024年03月05日 14时07分09秒"},
      {3, 0, kHour24, "20240305140709"},
      {2, 0, kHour24, "2024/03/05 14/07/09"},
      {1, 1, kHour24, "2024-03-05"},
      {1, 2, kHour24, "03-05"},
      {1, 4, kHour24, "14:07"},
      {0, 5, kHour24, "07分09秒"},
      {9, 9, kHour24, "2024年03月05日 14时07分09秒"},  // out-of-range style and parts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatLocalTime(Moment(), c.style, c.parts, c.hourMode), L8(c.utf8))
        << "style " << c.style << " parts " << c.parts;
  }
}

TEST(FormatLocalTime, HourModeFollowsTheLocale) {
  const char* saved = std::getenv("LC_ALL");
  setenv("LC_ALL", "C", 1);
  EXPECT_TRUE(LocaleUses24Hour());
  EXPECT_EQ(FormatLocalTime(Moment(), 1, 3), "14:07:09");
  if (saved)
    setenv("LC_ALL", saved, 1);
  else
    unsetenv("LC_ALL");
}

}  // namespace
}  // namespace pansift
