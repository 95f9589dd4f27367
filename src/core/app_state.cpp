#include "core/app_state.h"

#include "core/log.h"
#include "util/files.h"

namespace pansift {

AppState::AppState(Platform& platformRef, std::string dir)
    : platform(platformRef), programDir(std::move(dir)) {}

AppState::~AppState() = default;

Credentials AppState::operatingAccount() const {
  return {currentUserName.get(), currentCookies.get(), currentBdstoken.get()};
}

std::string AppState::pathBeside(std::string_view name) const {
  std::string path = programDir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

void AppendErrorLine(AppState& app, std::string_view text) {
  std::string line = HideLoginCookies(text);
  line += "\r\n";
  std::lock_guard lock(app.errorLogLock);
  AppendToFile(app.pathBeside("err.txt"), line);
}

void ResetErrorLog(AppState& app) {
  std::lock_guard lock(app.errorLogLock);
  TruncateFile(app.pathBeside("err.txt"));
}

}  // namespace pansift
