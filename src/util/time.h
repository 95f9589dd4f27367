// Local time stamps for log lines, the catalogue and file names.
#pragma once

#include <ctime>
#include <string>

namespace pansift {

/// Hour modes: 1 twelve-hour, 2 twenty-four-hour, anything else the user's locale.
enum HourMode { kHourFromLocale = 0, kHour12 = 1, kHour24 = 2 };

/// Formats `when` (local time) with one of four styles and a choice of parts:
///   style 0 "yyyy年MM月dd日 hh时mm分ss秒", 1 "yyyy-MM-dd hh:mm:ss",
///   style 2 "yyyy/MM/dd hh/mm/ss", 3 "yyyyMMddhhmmss";
///   parts 0 date and time, 1 date, 2 month-day, 3 time, 4 hour-minute, 5 minute-second.
/// Returns local text. No AM/PM marker is ever added.
std::string FormatLocalTime(std::time_t when, int style = 0, int parts = 0,
                            int hourMode = kHourFromLocale);
std::string FormatLocalTime();  // now, style 0, parts 0

/// Whether the user's locale (LC_TIME of the environment) shows a 24-hour clock.
bool LocaleUses24Hour();

}  // namespace pansift
