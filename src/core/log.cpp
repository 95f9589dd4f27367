#include "core/log.h"

#include <ctime>

#include "core/app_state.h"
#include "util/codepage.h"
#include "util/text.h"
#include "util/time.h"

namespace pansift {

void LogPane::append(const std::string& text, std::string exactUtf8) {
  {
    std::lock_guard lock(mutex_);
    text_ += text;
  }
  notify(LogAppended{text, std::move(exactUtf8)});
}

std::string LogPane::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void StatusBar::set(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    text_ = text;
  }
  notify(StatusChanged{text});
}

std::string StatusBar::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

namespace {

// The cookies that carry a login of the service.
constexpr std::string_view kLoginCookies[] = {"BDUSS",  "BDUSS_BFESS", "STOKEN",       "PTOKEN",
                                              "PANPSC", "BAIDUID",     "BAIDUID_BFESS"};

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsValueEnd(char c) {
  return c == ';' || c == ' ' || c == '"' || c == '\'' || c == '&' || c == ',' || c == '\r' ||
         c == '\n' || c == '\t' || c == '<' || c == '\\';
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

}  // namespace

std::string HideLoginCookies(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    if (!IsNameChar(text[pos]) || (pos > 0 && IsNameChar(text[pos - 1]))) {
      out += text[pos++];
      continue;
    }
    size_t end = pos;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    std::string_view name = text.substr(pos, end - pos);
    out.append(name);
    pos = end;
    if (pos >= text.size() || text[pos] != '=') continue;
    bool login = false;
    for (std::string_view cookie : kLoginCookies) login = login || SameIgnoringCase(name, cookie);
    if (!login) continue;
    out += '=';
    size_t valueEnd = pos + 1;
    while (valueEnd < text.size() && !IsValueEnd(text[valueEnd])) ++valueEnd;
    if (valueEnd > pos + 1) out += "***";
    pos = valueEnd;
  }
  return out;
}

void AppendLog(AppState& app, std::string_view message) {
  AppendLog(app, message, {});
}

void AppendLog(AppState& app, std::string_view message, std::string_view exactUtf8) {
  static const std::string kDeleteMarker = L8("文件删除");
  const std::string stamp =
      FormatLocalTime(std::time(nullptr), TimeStyle::kDashes, TimeParts::kTime) + ' ';
  // A delete's line is followed by an empty one.
  const std::string end = FindText(message, kDeleteMarker) > 0 ? "\r\n\r\n" : "\r\n";
  std::string line = stamp + HideLoginCookies(message) + end;
  std::string exact;
  if (!exactUtf8.empty()) exact = LocalToUtf8(stamp) + HideLoginCookies(exactUtf8) + end;
  std::lock_guard lock(app.logLock);
  app.log.append(line, std::move(exact));
}

void SetStatus(AppState& app, std::string_view text) {
  std::string shown = HideLoginCookies(text);
  std::lock_guard lock(app.logLock);
  app.status.set(shown);
}

void ReportWorkerFailure(AppState& app, std::string_view name, std::string_view what) {
  // what() is the library's text, usually ASCII; UTF-8 is shown as such, anything else as it came.
  std::string reason = IsValidUtf8(what) ? Utf8ToLocal(what) : std::string(what);
  std::string text = L8("后台任务");
  if (!name.empty()) text += L8("“") + L8(name) + L8("”");
  text += L8("出错，已中止：") + reason;
  AppendLog(app, text);
  SetStatus(app, text);
}

}  // namespace pansift
