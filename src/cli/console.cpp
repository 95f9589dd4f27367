#include "cli/console.h"

#include <algorithm>
#include <cstdio>

namespace pansift::cli {
namespace {

constexpr int kBarWidth = 24;
constexpr auto kPlainInterval = std::chrono::seconds(1);
// Carriage return and "erase to the end of the line".
constexpr const char* kClearLine = "\r\033[K";

std::string Rate(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, rate < 10 ? "%.1f/s" : "%.0f/s", rate);
  return text;
}

}  // namespace

void Console::line(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (terminal_ && !bar_.empty()) err_ << kClearLine;
  err_ << text << '\n';
  if (terminal_ && !bar_.empty()) err_ << bar_;
  err_ << std::flush;
}

void Console::progress(const std::string& text, bool force) {
  std::lock_guard lock(mutex_);
  if (terminal_) {
    if (text == bar_) return;
    bar_ = text;
    err_ << kClearLine << bar_ << std::flush;
    return;
  }
  auto now = std::chrono::steady_clock::now();
  if (text == lastPlain_ || (!force && now - lastPlainAt_ < kPlainInterval)) return;
  lastPlain_ = text;
  lastPlainAt_ = now;
  err_ << text << '\n' << std::flush;
}

void Console::endProgress() {
  std::lock_guard lock(mutex_);
  if (terminal_ && !bar_.empty()) err_ << '\n' << std::flush;
  bar_.clear();
}

std::string ProgressText(const ProgressState& state, bool bar) {
  std::string text;
  if (state.checkTotal < 0) {
    text =
        "reading folders: " + std::to_string(state.entriesRead) + " entries, " + Rate(state.rate);
  } else {
    text = "checking";
    if (bar) {
      long long filled =
          state.checkTotal > 0
              ? std::min<long long>(kBarWidth, state.checked * kBarWidth / state.checkTotal)
              : kBarWidth;
      text += " [" + std::string(static_cast<size_t>(filled), '#') +
              std::string(static_cast<size_t>(kBarWidth - filled), '.') + "]";
    } else {
      text += ":";
    }
    text += " " + std::to_string(state.checked) + "/" + std::to_string(state.checkTotal) +
            " files, " + std::to_string(state.blocked) + " blocked, " + Rate(state.rate);
  }
  if (state.paused) text += " (paused)";
  return text;
}

}  // namespace pansift::cli
