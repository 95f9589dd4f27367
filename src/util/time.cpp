#include "util/time.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>

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
const Pictures kPictures[4] = {
    {"yyyy年MM月dd日 ", "hh时mm分ss秒", "MM月dd日", "hh时mm分", "mm分ss秒"},
    {"yyyy-MM-dd ", "hh:mm:ss", "MM-dd", "hh:mm", "mm:ss"},
    {"yyyy/MM/dd ", "hh/mm/ss", "MM/dd", "hh/mm", "mm/ss"},
    {"yyyyMMdd", "hhmmss", "MMdd", "hhmm", "mmss"},
};

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
  locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return true;  // the C locale shows %H
  std::string_view fmt = nl_langinfo_l(T_FMT, loc);
  bool twelve = fmt.find("%I") != std::string_view::npos ||
                fmt.find("%l") != std::string_view::npos ||
                fmt.find("%r") != std::string_view::npos;
  freelocale(loc);
  return !twelve;
}

std::string FormatLocalTime(std::time_t when, int style, int parts, int hourMode) {
  if (style < 0 || style > 3) style = 0;
  const Pictures& p = kPictures[style];
  bool hour24 = hourMode == kHour24 || (hourMode != kHour12 && LocaleUses24Hour());
  std::tm tm{};
  localtime_r(&when, &tm);
  std::string date;
  std::string time;
  switch (parts) {
    case 1: {
      std::string_view d = p.date;
      if (d.ends_with(' ')) d.remove_suffix(1);
      date = std::string(d);
      break;
    }
    case 2:
      date = p.monthDay;
      break;
    case 3:
      time = p.time;
      break;
    case 4:
      time = p.hourMinute;
      break;
    case 5:
      time = p.minuteSecond;
      break;
    default:
      date = p.date;
      time = p.time;
  }
  return L8(Expand(date, tm, hour24) + Expand(time, tm, hour24));
}

std::string FormatLocalTime() {
  return FormatLocalTime(std::time(nullptr));
}

}  // namespace pansift
