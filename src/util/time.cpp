#include "util/time.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <cstdlib>

#include "util/codepage.h"

namespace pansift {
namespace {

struct Pictures {
  const char* date;
  const char* time;
  const char* monthDay;
  const char* hourMinute;
  const char* minuteSecond;
};

// UTF-8 here; converted to local text when formatted.
struct StylePictures {
  TimeStyle style;
  Pictures pictures;
};

constexpr StylePictures kPictures[] = {
    {TimeStyle::kChinese, {"yyyy年MM月dd日 ", "hh时mm分ss秒", "MM月dd日", "hh时mm分", "mm分ss秒"}},
    {TimeStyle::kDashes, {"yyyy-MM-dd ", "hh:mm:ss", "MM-dd", "hh:mm", "mm:ss"}},
    {TimeStyle::kSlashes, {"yyyy/MM/dd ", "hh/mm/ss", "MM/dd", "hh/mm", "mm/ss"}},
    {TimeStyle::kDigits, {"yyyyMMdd", "hhmmss", "MMdd", "hhmm", "mmss"}},
};

const Pictures& PicturesOf(TimeStyle style) {
  for (const StylePictures& entry : kPictures) {
    if (entry.style == style) return entry.pictures;
  }
  return kPictures[0].pictures;
}

std::string TwoDigits(int value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", value);
  return buf;
}

// Expands a picture: yyyy, MM, dd, HH, hh, mm, ss; other characters are copied.
std::string Expand(std::string_view picture, const std::tm& tm, bool hour24) {
  std::string out;
  for (size_t i = 0; i < picture.size();) {
    std::string_view rest = picture.substr(i);
    if (rest.starts_with("yyyy")) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d", tm.tm_year + 1900);
      out += buf;
      i += 4;
    } else if (rest.starts_with("MM")) {
      out += TwoDigits(tm.tm_mon + 1);
      i += 2;
    } else if (rest.starts_with("dd")) {
      out += TwoDigits(tm.tm_mday);
      i += 2;
    } else if (rest.starts_with("HH") || (rest.starts_with("hh") && hour24)) {
      out += TwoDigits(tm.tm_hour);
      i += 2;
    } else if (rest.starts_with("hh")) {
      int h = tm.tm_hour % 12;
      out += TwoDigits(h == 0 ? 12 : h);
      i += 2;
    } else if (rest.starts_with("mm")) {
      out += TwoDigits(tm.tm_min);
      i += 2;
    } else if (rest.starts_with("ss")) {
      out += TwoDigits(tm.tm_sec);
      i += 2;
    } else {
      out += picture[i++];
    }
  }
  return out;
}

}  // namespace

bool LocaleUses24Hour() {
  // The answer depends only on the locale variables; asking the C library for a
  // locale object at every log line would cost more than the line itself.
  std::string key;
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    key += value ? value : "";
    key += '\n';
  }
  thread_local std::string cachedKey;
  thread_local bool cached24 = true;
  if (key == cachedKey && !cachedKey.empty()) return cached24;
  locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  bool hour24 = true;  // the C locale shows %H
  if (loc != static_cast<locale_t>(0)) {
    std::string_view fmt = nl_langinfo_l(T_FMT, loc);
    hour24 = fmt.find("%I") == std::string_view::npos && fmt.find("%l") == std::string_view::npos &&
             fmt.find("%r") == std::string_view::npos;
    freelocale(loc);
  }
  cachedKey = key;
  cached24 = hour24;
  return hour24;
}

std::string FormatLocalTime(std::time_t when, TimeStyle style, TimeParts parts, HourMode hourMode) {
  const Pictures& p = PicturesOf(style);
  bool hour24 = hourMode == HourMode::k24 || (hourMode != HourMode::k12 && LocaleUses24Hour());
  std::tm tm{};
  localtime_r(&when, &tm);
  std::string date;
  std::string time;
  switch (parts) {
    case TimeParts::kDate: {
      std::string_view d = p.date;
      if (d.ends_with(' ')) d.remove_suffix(1);
      date = std::string(d);
      break;
    }
    case TimeParts::kMonthDay:
      date = p.monthDay;
      break;
    case TimeParts::kTime:
      time = p.time;
      break;
    case TimeParts::kHourMinute:
      time = p.hourMinute;
      break;
    case TimeParts::kMinuteSecond:
      time = p.minuteSecond;
      break;
    case TimeParts::kDateAndTime:
      date = p.date;
      time = p.time;
      break;
  }
  return L8(Expand(date, tm, hour24) + Expand(time, tm, hour24));
}

std::string FormatLocalTime() {
  // Called for every catalogued entry: the text changes once a second.
  thread_local std::time_t cachedSecond = -1;
  thread_local bool cachedHour24 = true;
  thread_local std::string cached;
  const std::time_t now = std::time(nullptr);
  const bool hour24 = LocaleUses24Hour();
  if (now != cachedSecond || hour24 != cachedHour24) {
    cached = FormatLocalTime(now);
    cachedSecond = now;
    cachedHour24 = hour24;
  }
  return cached;
}

}  // namespace pansift
