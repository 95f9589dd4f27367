#include "cli/console.h"

#include <algorithm>
#include <cstdio>
#include <utility>

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

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%0*x", prefix, digits, value);
  out += text;
}

}  // namespace

std::pair<char32_t, size_t> DecodeUtf8At(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  char32_t cp = 0;
  unsigned char low = 0x80;   // the range of the second byte, which rules out overlong
  unsigned char high = 0xBF;  // forms, surrogates and code points beyond U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0, 0};
  }
  if (at + length > text.size()) return {0, 0};
  for (size_t i = 1; i < length; ++i) {
    unsigned char next = byte(at + i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return {0, 0};
    cp = (cp << 6) | (next & 0x3F);
  }
  return {cp, length};
}

bool IsTerminalControl(char32_t cp) {
  // C0 and DEL; C1; line and paragraph separators; the bidirectional marks,
  // embeddings, overrides and isolates that reorder what follows.
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
         cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

std::string TerminalText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    auto [cp, length] = DecodeUtf8At(utf8, at);
    if (length == 0) {
      AppendHex(out, "\\x", static_cast<unsigned char>(utf8[at]), 2);
      ++at;
      continue;
    }
    switch (cp) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (cp < 0x20 || cp == 0x7F) {
          AppendHex(out, "\\x", static_cast<unsigned>(cp), 2);
        } else if (IsTerminalControl(cp)) {
          AppendHex(out, "\\u", static_cast<unsigned>(cp), 4);
        } else {
          out.append(utf8.substr(at, length));
        }
    }
    at += length;
  }
  return out;
}

void Console::line(std::string_view text) {
  std::string shown = TerminalText(text);
  std::lock_guard lock(mutex_);
  if (terminal_ && !bar_.empty()) err_ << kClearLine;
  err_ << shown << '\n';
  if (terminal_ && !bar_.empty()) err_ << bar_;
  err_ << std::flush;
}

void Console::note(std::string_view text) {
  if (!quiet_) line(text);
}

void Console::progress(const std::string& text, bool force) {
  if (quiet_) return;
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
