// What the core needs from the desktop: prompts, clipboard, shell, and the UI
// thread's event loop. The Qt front end implements it with widgets; tests and the
// command line use the headless implementation.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pansift {

class Clock;

using WindowId = std::uintptr_t;  // 0: the window active at the call

// Message-box styles (icon + buttons), as the program's prompts use them.
enum MessageBoxStyle : int {
  kStyleYesNoStop = 20,         // stop icon, Yes/No
  kStyleOkCancelQuestion = 33,  // question icon, OK/Cancel
  kStyleYesNoQuestion = 36,     // question icon, Yes/No
  kStyleWarning = 48,           // warning icon, OK
  kStyleYesNoWarning = 52,      // warning icon, Yes/No
  kStyleInformation = 64,       // information icon, OK
};

// Button ids a prompt answers with.
enum MessageBoxResult : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdYes = 6,
  kIdNo = 7,
  kIdTimeout = 32000,  // the box closed by itself; callers treat it as No/Cancel
};

/// Prompts time out after this long unless a caller says otherwise.
inline constexpr int kPromptTimeoutMs = 15000;

struct OpenFileRequest {
  std::string title;     // local text
  std::string filter;    // e.g. "文本文件 (*.txt)", local text
  std::string startDir;  // file system path (UTF-8)
  WindowId owner = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  /// Shows a modal box that closes by itself after `timeoutMs` (0: never) and
  /// returns the button pressed or kIdTimeout. Caption and text are local text.
  /// Callable from any thread; a worker blocks until the answer, the UI stays live.
  virtual MessageBoxResult messageBox(std::string_view caption, std::string_view text,
                                      int timeoutMs, MessageBoxStyle style, WindowId owner) = 0;
  virtual void setClipboard(std::u16string text) = 0;
  virtual void openUrl(const std::string& url) = 0;
  virtual void showInFileManager(const std::string& path) = 0;
  virtual void openWithDefaultProgram(const std::string& path) = 0;
  /// A desktop notification with `title` and `text` (local text), shown only while
  /// none of the program's windows is the active one: the user is looking elsewhere.
  virtual void notifyIfInactive(std::string_view title, std::string_view text) = 0;
  /// The chosen file's path (UTF-8), or empty when cancelled.
  virtual std::string chooseOpenFile(const OpenFileRequest& request) = 0;
  virtual bool isUiThread() const = 0;
  /// Dispatches pending UI events once; a no-op off the UI thread.
  virtual void processEvents() = 0;
  /// Waits `duration`: a nested event loop on the UI thread, a sleep elsewhere.
  virtual void waitPumping(std::chrono::milliseconds duration) = 0;
  /// Queues work for the UI thread; never blocks.
  virtual void post(std::function<void()> uiWork) = 0;
  /// The clock all waits of the program go through.
  virtual Clock& clock() = 0;
};

/// A prompt that closes by itself (see Platform::messageBox).
MessageBoxResult TimedMessageBox(Platform& platform, std::string_view caption,
                                 std::string_view text, int timeoutMs = kPromptTimeoutMs,
                                 MessageBoxStyle style = kStyleInformation, WindowId owner = 0);

/// Waits `duration` (nothing when it is not positive) while keeping the UI
/// responsive when called on the UI thread.
void WaitPumping(Platform& platform, std::chrono::milliseconds duration);
/// Dispatches the calling thread's pending UI events once.
void ProcessEvents(Platform& platform);

}  // namespace pansift
