// stderr of the command line: lines that stay (prompts, log lines) and one progress
// line. On a terminal the progress is a bar rewritten in place below the lines;
// elsewhere (a log file, a pipe) it is a plain line now and then.
#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace pansift::cli {

/// `utf8` made safe to show on a terminal, as one line: every control character
/// (C0, DEL, C1), line and paragraph separator and bidirectional formatting
/// character becomes a visible escape ("\t", "\n", "\r", "\x1b", "\u202e"), a
/// backslash becomes "\\", and a byte that is not part of valid UTF-8 becomes
/// "\xHH". A name can then neither drive the terminal nor split or reorder a line,
/// and the escapes read back unambiguously.
std::string TerminalText(std::string_view utf8);

class Console {
 public:
  Console(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}

  /// A line that stays (UTF-8, without its line break), shown as TerminalText. Safe
  /// from any thread.
  void line(std::string_view text);
  /// The progress line: rewritten in place on a terminal; otherwise printed when it
  /// changed and a second has passed since the last one (or `force`).
  void progress(const std::string& text, bool force = false);
  /// The progress is over: a terminal keeps its last state as a line.
  void endProgress();
  bool terminal() const { return terminal_; }

 private:
  std::mutex mutex_;
  std::ostream& err_;
  const bool terminal_;
  std::string bar_;  // what the terminal's last line shows now
  std::string lastPlain_;
  std::chrono::steady_clock::time_point lastPlainAt_{};
};

/// What the progress line says.
struct ProgressState {
  long long entriesRead = 0;  // catalogued by the pre-read phase
  long long checkTotal = -1;  // files the check phase checks; -1 before it begins
  long long checked = 0;      // files found blocked or normal so far
  int blocked = 0;
  bool paused = false;
  double rate = 0;  // entries or files a second in the current phase
};

/// "reading folders: 1534 entries, 812/s" or, with a bar for terminals,
/// "checking [#####.....] 120/300 files, 3 blocked, 40/s".
std::string ProgressText(const ProgressState& state, bool bar);

}  // namespace pansift::cli
