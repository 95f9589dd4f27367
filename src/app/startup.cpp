#include "app/startup.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/app_state.h"
#include "core/log.h"
#include "net/http.h"
#include "util/codepage.h"

namespace pansift {

ProgramDirChoice ResolveProgramDir(const std::string& executableDir) {
  if (!executableDir.empty() && access(executableDir.c_str(), W_OK) == 0)
    return {executableDir, false};
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  std::filesystem::path dir = base / "pansift";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return {dir.string(), true};
}

bool ReadCurlSwitch(const std::string& netsetPath) {
  std::ifstream in(netsetPath, std::ios::binary);
  if (!in) return false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes.resize(bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0'));
  return bytes.find("\"curl\":\"1\"") != std::string::npos;
}

std::string CurlNotice(bool curlMode) {
  return L8(curlMode
                ? "已开启了curl访问网络模式，如出现访问异常，请在netset.ini中将1为改0，再重启软件。"
                  "      通过鼠标右键选择cookies或目录列表进行操作"
                : "已关闭curl访问网络模式，如出现访问异常，请在netset.ini中将0为改1，再重启软件。"
                  "      通过鼠标右键选择cookies或目录列表进行操作");
}

void StartUp(AppState& app) {
  app.curlMode = ReadCurlSwitch(app.pathBeside("netset.ini"));
  SetStatus(app, CurlNotice(app.curlMode));
  ResetErrorLog(app);
  SetRefererOrigin(app.origins.netdisk);
}

bool QueryClose(AppState& app, bool taskRunning) {
  std::string text = L8(taskRunning ? "当前有运行中的任务，确定关闭软件？" : "确定关闭软件？");
  return TimedMessageBox(app.platform, L8("提示："), text, kPromptTimeoutMs,
                         kStyleOkCancelQuestion) == kIdOk;
}

}  // namespace pansift
