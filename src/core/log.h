// The log pane and the status bar as models: workers append and replace text,
// the window mirrors it.
#pragma once

#include <mutex>
#include <string>

#include "util/observable.h"

namespace pansift {

struct AppState;

struct LogAppended {
  std::string text;  // local text, complete lines with CR LF
};

/// The log pane's text. It only grows.
class LogPane : public Observable<LogAppended> {
 public:
  void append(const std::string& text);
  std::string text() const;

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

struct StatusChanged {
  std::string text;  // local text
};

/// The message pane of the status bar: one line, replaced by each change.
class StatusBar : public Observable<StatusChanged> {
 public:
  void set(const std::string& text);
  std::string text() const;

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

/// Appends "HH:mm:ss message" and CR LF to the log pane under logLock; a message
/// about a file delete ("文件删除") is followed by an empty line.
void AppendLog(AppState& app, std::string_view message);
/// Replaces the status bar text under logLock.
void SetStatus(AppState& app, std::string_view text);

}  // namespace pansift
