#include "core/headless_platform.h"

namespace pansift {

HeadlessPlatform::HeadlessPlatform(Clock* clock)
    : clock_(clock ? clock : &SystemClock::instance()), uiThread_(std::this_thread::get_id()) {}

void HeadlessPlatform::answerNext(MessageBoxResult button) {
  std::lock_guard lock(mutex_);
  answers_.push_back(button);
}

std::vector<RecordedPrompt> HeadlessPlatform::prompts() const {
  std::lock_guard lock(mutex_);
  return prompts_;
}

std::u16string HeadlessPlatform::clipboard() const {
  std::lock_guard lock(mutex_);
  return clipboard_;
}

std::vector<std::string> HeadlessPlatform::openedUrls() const {
  std::lock_guard lock(mutex_);
  return urls_;
}

std::vector<std::string> HeadlessPlatform::shownFiles() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void HeadlessPlatform::chooseFileNext(std::string path) {
  std::lock_guard lock(mutex_);
  files_.push_back(std::move(path));
}

MessageBoxResult HeadlessPlatform::messageBox(std::string_view caption, std::string_view text,
                                              int timeoutMs, MessageBoxStyle style, WindowId) {
  std::lock_guard lock(mutex_);
  prompts_.push_back({std::string(caption), std::string(text), timeoutMs, style});
  if (answers_.empty()) return kIdTimeout;
  MessageBoxResult answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void HeadlessPlatform::setClipboard(std::u16string text) {
  std::lock_guard lock(mutex_);
  clipboard_ = std::move(text);
}

void HeadlessPlatform::openUrl(const std::string& url) {
  std::lock_guard lock(mutex_);
  urls_.push_back(url);
}

void HeadlessPlatform::notifyIfInactive(std::string_view title, std::string_view text) {
  std::lock_guard lock(mutex_);
  notices_.push_back(std::string(title) + ": " + std::string(text));
}

std::vector<std::string> HeadlessPlatform::notices() const {
  std::lock_guard lock(mutex_);
  return notices_;
}

void HeadlessPlatform::showInFileManager(const std::string& path) {
  std::lock_guard lock(mutex_);
  shown_.push_back(path);
}

void HeadlessPlatform::openWithDefaultProgram(const std::string& path) {
  std::lock_guard lock(mutex_);
  shown_.push_back(path);
}

std::string HeadlessPlatform::chooseOpenFile(const OpenFileRequest&) {
  std::lock_guard lock(mutex_);
  if (files_.empty()) return {};
  std::string path = files_.front();
  files_.pop_front();
  return path;
}

void HeadlessPlatform::post(std::function<void()> uiWork) {
  std::lock_guard lock(postMutex_);
  if (uiWork) uiWork();
}

}  // namespace pansift
