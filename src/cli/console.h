// stderr of the command line: lines that stay (prompts, log lines) and one progress
// line. On a terminal the progress is a bar rewritten in place below the lines;
// elsewhere (a log file, a pipe) it is a plain line now and then.
#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace pansift::cli {

/// `utf8` made safe to show on a terminal, as one line: every control character
/// (C0, DEL, C1), line and paragraph separator and bidirectional formatting
/// character becomes a visible escape ("\t", "\n", "\r", "\x1b", "\u202e"), a
/// backslash becomes "\\", and a byte that is not part of valid UTF-8 becomes
/// "\xHH". A name can then neither drive the terminal nor split or reorder a line,
/// and the escapes read back unambiguously.
std::string TerminalText(std::string_view utf8);

/// Whether a code point changes how a terminal shows the text around it: a C0 or
/// C1 control, DEL, a line or paragraph separator, or a bidirectional mark,
/// embedding, override or isolate.
bool IsTerminalControl(char32_t cp);

/// The code point of the valid UTF-8 sequence at `at` and its length; length 0 when
/// the byte there starts none (a stray continuation byte, an overlong form, a
/// surrogate, beyond U+10FFFF, or cut short).
std::pair<char32_t, size_t> DecodeUtf8At(std::string_view text, size_t at);

class Console {
 public:
  /// `quiet`: only lines that stay are shown; notes and the progress are not.
  Console(std::ostream& err, bool terminal, bool quiet = false)
      : err_(err), terminal_(terminal), quiet_(quiet) {}

  /// A line that stays (UTF-8, without its line break), shown as TerminalText: an
  /// error, a question and its answer. Safe from any thread.
  void line(std::string_view text);
  /// A line that only tells what happens (a log line, what was saved), shown as
  /// line() does unless quiet.
  void note(std::string_view text);
  /// The progress line: rewritten in place on a terminal; otherwise printed when it
  /// changed and a second has passed since the last one (or `force`). Nothing when
  /// quiet.
  void progress(const std::string& text, bool force = false);
  /// The progress is over: a terminal keeps its last state as a line.
  void endProgress();
  bool terminal() const { return terminal_; }
  bool quiet() const { return quiet_; }

 private:
  std::mutex mutex_;
  std::ostream& err_;
  const bool terminal_;
  const bool quiet_;
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
