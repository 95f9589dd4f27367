// The Platform of the command line: prompts are written to stderr and answered as
// the user said on the command line (--yes, --no), or with their time-out answer.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "cli/console.h"
#include "core/headless_platform.h"

namespace pansift::cli {

/// How the command line answers the program's questions.
enum class PromptPolicy {
  kTimeout,  // as if each box had closed by itself: No or Cancel
  kYes,      // Yes or OK
  kNo,       // No or Cancel
};

class CliPlatform : public HeadlessPlatform {
 public:
  /// Prompts go to the console, a line each.
  CliPlatform(Console& console, PromptPolicy policy, Clock* clock = nullptr);

  /// The next prompt whose text is `localText` is answered with `answer`, whatever
  /// the policy: what the user meant by an action of the command line itself (a
  /// Ctrl-C confirms the stop question).
  void answerOnce(std::string localText, MessageBoxResult answer);
  /// The next prompt whose text is `localText` is answered by the policy without
  /// being shown: a notice that the command line's own outcome contradicts (the
  /// task's "检查任务已完成。" after a stop).
  void hideOnce(std::string localText);

  MessageBoxResult messageBox(std::string_view caption, std::string_view text, int timeoutMs,
                              MessageBoxStyle style, WindowId owner) override;
  void openUrl(const std::string& url) override;

 private:
  Console& console_;
  const PromptPolicy policy_;
  std::mutex mutex_;
  std::multimap<std::string, MessageBoxResult> once_;
  std::multiset<std::string> hidden_;
};

/// A prompt's text as one line of UTF-8: each run of its line breaks (the program
/// writes CR LF) becomes one space and trailing ones are dropped, so that its
/// paragraphs read as one line; a lone CR or LF stays for Console::line to escape.
std::string PromptLine(std::string_view localText);
/// A line of the log pane as UTF-8, without the CR LF pairs that end it: its exact
/// UTF-8 text (LogAppended::exactUtf8) when it has one, else its local text.
std::string LogLine(std::string_view localText, std::string_view exactUtf8 = {});

}  // namespace pansift::cli
