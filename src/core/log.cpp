#include "core/log.h"

#include <ctime>

#include "core/app_state.h"
#include "util/codepage.h"
#include "util/text.h"
#include "util/time.h"

namespace pansift {

void LogPane::append(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    text_ += text;
  }
  notify(LogAppended{text});
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

void AppendLog(AppState& app, std::string_view message) {
  static const std::string kDeleteMarker = L8("文件删除");
  std::string line = FormatLocalTime(std::time(nullptr), 1, 3);
  line += ' ';
  line += message;
  line += "\r\n";
  if (FindText(message, kDeleteMarker) > 0) line += "\r\n";
  std::lock_guard lock(app.logLock);
  app.log.append(line);
}

void SetStatus(AppState& app, std::string_view text) {
  std::lock_guard lock(app.logLock);
  app.status.set(std::string(text));
}

}  // namespace pansift
