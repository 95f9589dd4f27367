// A Platform without a display, for tests and the command line: prompts are
// answered from a script (or time out), and everything asked is recorded.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/platform.h"
#include "util/clock.h"

namespace pansift {

struct RecordedPrompt {
  std::string caption;  // local text
  std::string text;     // local text
  int timeoutMs = 0;
  MessageBoxStyle style = kStyleInformation;
};

class HeadlessPlatform : public Platform {
 public:
  /// Uses `clock` for every wait; the real clock when none is given.
  explicit HeadlessPlatform(Clock* clock = nullptr);

  /// The next prompt is answered with `button`. Unscripted prompts time out.
  void answerNext(MessageBoxResult button);
  std::vector<RecordedPrompt> prompts() const;
  std::u16string clipboard() const;
  std::vector<std::string> openedUrls() const;
  std::vector<std::string> shownFiles() const;
  /// The notifications asked for, "title: text" (local text); a headless run has no
  /// window that could be active.
  std::vector<std::string> notices() const;
  /// The next chooseOpenFile returns `path`.
  void chooseFileNext(std::string path);

  MessageBoxResult messageBox(std::string_view caption, std::string_view text, int timeoutMs,
                              MessageBoxStyle style, WindowId owner) override;
  void setClipboard(std::u16string text) override;
  void openUrl(const std::string& url) override;
  void showInFileManager(const std::string& path) override;
  void openWithDefaultProgram(const std::string& path) override;
  void notifyIfInactive(std::string_view title, std::string_view text) override;
  std::string chooseOpenFile(const OpenFileRequest& request) override;
  bool isUiThread() const override { return std::this_thread::get_id() == uiThread_; }
  void processEvents() override {}
  void waitPumping(std::chrono::milliseconds duration) override { clock_->sleepFor(duration); }
  /// Runs the work at once on the calling thread, one piece at a time.
  void post(std::function<void()> uiWork) override;
  Clock& clock() override { return *clock_; }

 private:
  Clock* clock_;
  std::thread::id uiThread_;
  mutable std::mutex mutex_;
  std::recursive_mutex postMutex_;
  std::deque<MessageBoxResult> answers_;
  std::deque<std::string> files_;
  std::vector<RecordedPrompt> prompts_;
  std::u16string clipboard_;
  std::vector<std::string> urls_;
  std::vector<std::string> shown_;
  std::vector<std::string> notices_;
};

}  // namespace pansift
