#include "core/app_state.h"

#include <cstdio>

namespace pansift {

AppState::AppState(Platform& platformRef, std::string dir)
    : platform(platformRef), programDir(std::move(dir)) {}

AppState::~AppState() = default;

std::string AppState::pathBeside(std::string_view name) const {
  std::string path = programDir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

void AppendErrorLine(AppState& app, std::string_view text) {
  std::lock_guard lock(app.errorLogLock);
  std::FILE* f = std::fopen(app.pathBeside("err.txt").c_str(), "ab");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fwrite("\r\n", 1, 2, f);
  std::fclose(f);
}

void ResetErrorLog(AppState& app) {
  std::lock_guard lock(app.errorLogLock);
  if (std::FILE* f = std::fopen(app.pathBeside("err.txt").c_str(), "wb")) std::fclose(f);
}

}  // namespace pansift
