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
  /// The same lines as UTF-8 with the names they hold as they really are (local
  /// text has no emoji, and the pane shows some names as the catalogue stores
  /// them); empty when converting `text` gives them.
  std::string exactUtf8;
};

/// The log pane's text. It only grows.
class LogPane : public Observable<LogAppended> {
 public:
  /// `exactUtf8`: see LogAppended; it is announced, not kept.
  void append(const std::string& text, std::string exactUtf8 = {});
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
/// about a file delete ("文件删除") is followed by an empty line. Login cookie
/// values in the message are hidden (HideLoginCookies).
void AppendLog(AppState& app, std::string_view message);
/// AppendLog of a message that names files, folders or paths: `message` is what the
/// pane shows, `exactUtf8` the same message as UTF-8 with the names as they really
/// are, for a front end that shows Unicode (the command line's stderr).
void AppendLog(AppState& app, std::string_view message, std::string_view exactUtf8);
/// Replaces the status bar text under logLock, login cookie values hidden.
void SetStatus(AppState& app, std::string_view text);

/// Work that ended by an exception: the log and the status bar say which work
/// (`name`, UTF-8; may be empty) and the exception's what(), "后台任务“name”出错，已中止：what".
void ReportWorkerFailure(AppState& app, std::string_view name, std::string_view what);

/// `text` with the value of every login cookie ("BDUSS=...", "STOKEN=...", any
/// letter case) replaced by "***". The log pane, the status bar and err.txt show
/// replies of the service, and a reply (an error page of a proxy, say) may quote
/// the request's Cookie header; the login must not end up on screen or on disk.
std::string HideLoginCookies(std::string_view text);

}  // namespace pansift
