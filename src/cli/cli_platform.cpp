#include "cli/cli_platform.h"

#include "util/codepage.h"

namespace pansift::cli {
namespace {

bool IsQuestion(MessageBoxStyle style) {
  return style == kStyleYesNoQuestion || style == kStyleYesNoWarning ||
         style == kStyleOkCancelQuestion;
}

MessageBoxResult PolicyAnswer(PromptPolicy policy, MessageBoxStyle style) {
  bool okCancel = style == kStyleOkCancelQuestion;
  switch (policy) {
    case PromptPolicy::kYes:
      return okCancel ? kIdOk : (IsQuestion(style) ? kIdYes : kIdOk);
    case PromptPolicy::kNo:
      return okCancel ? kIdCancel : (IsQuestion(style) ? kIdNo : kIdOk);
    case PromptPolicy::kTimeout:
      break;
  }
  return kIdTimeout;
}

const char* AnswerText(MessageBoxResult answer) {
  switch (answer) {
    case kIdYes:
      return "yes";
    case kIdNo:
      return "no";
    case kIdOk:
      return "ok";
    case kIdCancel:
      return "cancel";
    default:
      return "no answer (as if timed out; --yes or --no answers)";
  }
}

}  // namespace

std::string PromptLine(std::string_view localText) {
  std::string text = LocalToUtf8(localText);
  std::string line;
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, 2, "\r\n") != 0) {
      line += text[at++];
      continue;
    }
    while (text.compare(at, 2, "\r\n") == 0) at += 2;
    if (at < text.size() && !line.empty()) line += ' ';
  }
  return line;
}

std::string LogLine(std::string_view localText, std::string_view exactUtf8) {
  std::string text = exactUtf8.empty() ? LocalToUtf8(localText) : std::string(exactUtf8);
  while (text.ends_with("\r\n")) text.resize(text.size() - 2);
  return text;
}

CliPlatform::CliPlatform(Console& console, PromptPolicy policy, Clock* clock)
    : HeadlessPlatform(clock), console_(console), policy_(policy) {}

void CliPlatform::answerOnce(std::string localText, MessageBoxResult answer) {
  std::lock_guard lock(mutex_);
  once_.emplace(std::move(localText), answer);
}

void CliPlatform::hideOnce(std::string localText) {
  std::lock_guard lock(mutex_);
  hidden_.insert(std::move(localText));
}

MessageBoxResult CliPlatform::messageBox(std::string_view caption, std::string_view text,
                                         int timeoutMs, MessageBoxStyle style, WindowId owner) {
  // Recorded like every headless prompt (tests read them back).
  HeadlessPlatform::messageBox(caption, text, timeoutMs, style, owner);
  MessageBoxResult answer = PolicyAnswer(policy_, style);
  {
    std::lock_guard lock(mutex_);
    if (auto it = once_.find(std::string(text)); it != once_.end()) {
      answer = it->second;
      once_.erase(it);
    }
    if (auto it = hidden_.find(std::string(text)); it != hidden_.end()) {
      hidden_.erase(it);
      return answer;
    }
    std::string line = PromptLine(caption);
    while (!line.empty() && (line.back() == ':' || line.ends_with("："))) {
      line.resize(line.back() == ':' ? line.size() - 1 : line.size() - 3);
    }
    line += ": " + PromptLine(text);
    if (IsQuestion(style)) line += std::string(" [") + AnswerText(answer) + "]";
    console_.line(line);
  }
  return answer;
}

void CliPlatform::openUrl(const std::string& url) {
  HeadlessPlatform::openUrl(url);
  console_.line("open in a browser: " + url);
}

}  // namespace pansift::cli
