// Local time stamps for log lines, the catalogue and file names.
#pragma once

#include <ctime>
#include <string>

namespace pansift {

/// How a time stamp is written.
enum class TimeStyle {
  kChinese,  // "yyyy年MM月dd日 hh时mm分ss秒"
  kDashes,   // "yyyy-MM-dd hh:mm:ss"
  kSlashes,  // "yyyy/MM/dd hh/mm/ss"
  kDigits,   // "yyyyMMddhhmmss"
};

/// Which parts of the moment a time stamp shows.
enum class TimeParts { kDateAndTime, kDate, kMonthDay, kTime, kHourMinute, kMinuteSecond };

enum class HourMode { kFromLocale, k12, k24 };

/// Formats `when` (local time) as local text. No AM/PM marker is ever added, so a
/// twelve-hour clock shows "02:07:09" for 14:07:09.
std::string FormatLocalTime(std::time_t when, TimeStyle style = TimeStyle::kChinese,
                            TimeParts parts = TimeParts::kDateAndTime,
                            HourMode hourMode = HourMode::kFromLocale);
std::string FormatLocalTime();  // now, in the Chinese style, date and time

/// Whether the user's locale (LC_TIME of the environment) shows a 24-hour clock.
bool LocaleUses24Hour();

}  // namespace pansift
