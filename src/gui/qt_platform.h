// The desktop platform: Qt message boxes, clipboard, shell and event loop.
#pragma once

#include <string>
#include <string_view>

#include "core/platform.h"

namespace pansift {

/// A file dialog's filter whose "*.ext" patterns match the extension in any case
/// ("*.txt" becomes "*.[tT][xX][tT]"): a native dialog on Linux matches patterns
/// case-sensitively, and "A.TXT" is a text file too.
std::string CaseInsensitiveFilter(std::string_view localFilter);

class QtPlatform : public Platform {
 public:
  /// Must be made on the GUI thread after the QApplication.
  explicit QtPlatform(Clock* clock = nullptr);

  MessageBoxResult messageBox(std::string_view caption, std::string_view text, int timeoutMs,
                              MessageBoxStyle style, WindowId owner) override;
  void setClipboard(std::u16string text) override;
  void openUrl(const std::string& url) override;
  void showInFileManager(const std::string& path) override;
  void openWithDefaultProgram(const std::string& path) override;
  /// Through the freedesktop notification service on the session bus.
  void notifyIfInactive(std::string_view title, std::string_view text) override;
  std::string chooseOpenFile(const OpenFileRequest& request) override;
  bool isUiThread() const override;
  void processEvents() override;
  void waitPumping(std::chrono::milliseconds duration) override;
  void post(std::function<void()> uiWork) override;
  Clock& clock() override { return *clock_; }

 private:
  /// Runs `work` on the GUI thread and waits for it (at once when already there).
  void runOnUi(const std::function<void()>& work);
  Clock* clock_;
};

}  // namespace pansift
