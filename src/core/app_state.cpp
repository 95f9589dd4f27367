#include "core/app_state.h"

#include "core/log.h"
#include "util/files.h"

namespace pansift {

AppState::AppState(Platform& platformRef, const std::string& programDir)
    : AppState(platformRef, ProgramDirs::allIn(programDir)) {}

AppState::AppState(Platform& platformRef, ProgramDirs folders)
    : platform(platformRef), dirs(std::move(folders)) {}

AppState::~AppState() = default;

Credentials AppState::operatingAccount() const {
  return {currentUserName.get(), currentCookies.get(), currentBdstoken.get()};
}

namespace {

std::string FileIn(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

}  // namespace

std::string AppState::configFile(std::string_view name) const {
  return FileIn(dirs.config, name);
}
std::string AppState::dataFile(std::string_view name) const {
  return FileIn(dirs.data, name);
}
std::string AppState::stateFile(std::string_view name) const {
  return FileIn(dirs.state, name);
}

void AppendErrorLine(AppState& app, std::string_view text) {
  std::string line = HideLoginCookies(text);
  line += "\r\n";
  std::lock_guard lock(app.errorLogLock);
  AppendToFile(app.stateFile("err.txt"), line);
}

void ResetErrorLog(AppState& app) {
  std::lock_guard lock(app.errorLogLock);
  TruncateFile(app.stateFile("err.txt"));
}

}  // namespace pansift
