#include "app/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "core/app_state.h"
#include "core/install_layout.h"
#include "core/log.h"
#include "net/http.h"
#include "util/codepage.h"
#include "util/files.h"

namespace pansift {

namespace {

// A real folder (not a link) of this user that nobody else may enter.
bool IsPrivateFolder(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
            (info.st_mode & 077) == 0;
  ::close(fd);
  return ok;
}

// A folder only this user can reach, below a shared one such as /tmp:
// "pansift-<uid>", made here with mode 0700 or found private. Anything else in
// its place may have been prepared by another user (to read the accounts, or to
// point our files elsewhere through links); then a fresh folder with an
// unguessable name is made instead.
std::string PrivateFolderIn(const std::string& base) {
  const std::string prefix = base + "/pansift-" + std::to_string(::geteuid());
  ::mkdir(prefix.c_str(), 0700);
  if (IsPrivateFolder(prefix)) return prefix;
  std::string pattern = prefix + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

// $<variable>/pansift, or ~/<homeDefault>/pansift when the variable is unset or not
// an absolute path (as the XDG base directories say), made if needed; "" when it
// cannot be made or written.
std::string UserFolder(const char* variable, const char* homeDefault) {
  std::filesystem::path base;
  if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / homeDefault;
  } else {
    return {};
  }
  std::filesystem::path dir = base / "pansift";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (::access(dir.c_str(), W_OK) != 0) return {};
  return dir.string();
}

// The XDG folders of this user; false when one of them cannot be used.
bool UserFolders(ProgramDirs& dirs) {
  dirs.config = UserFolder("XDG_CONFIG_HOME", ".config");
  dirs.data = UserFolder("XDG_DATA_HOME", ".local/share");
  dirs.state = UserFolder("XDG_STATE_HOME", ".local/state");
  dirs.cache = UserFolder("XDG_CACHE_HOME", ".cache");
  if (dirs.config.empty() || dirs.data.empty() || dirs.state.empty() || dirs.cache.empty())
    return false;
  // Earlier versions kept every file in the data folder: the back-end switch is
  // carried over to where settings are read now.
  const std::filesystem::path oldSwitch = std::filesystem::path(dirs.data) / "netset.ini";
  const std::filesystem::path newSwitch = std::filesystem::path(dirs.config) / "netset.ini";
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(newSwitch, ec)) &&
      std::filesystem::is_regular_file(std::filesystem::symlink_status(oldSwitch, ec)))
    std::filesystem::rename(oldSwitch, newSwitch, ec);
  return true;
}

}  // namespace

ProgramDirChoice ResolveProgramDir(const std::string& executableDir) {
  if (!executableDir.empty() && access(executableDir.c_str(), W_OK) == 0)
    return {ProgramDirs::allIn(executableDir), false};
  if (ProgramDirs dirs; UserFolders(dirs)) return {dirs, true};
  // The last resort: the user's runtime folder or the temporary one, in a folder
  // of our own that nobody else can prepare.
  std::string base;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    base = runtime;
  } else {
    std::error_code ec;
    base = std::filesystem::temp_directory_path(ec).string();
    if (base.empty()) base = "/tmp";
  }
  std::string folder = PrivateFolderIn(base);
  return {ProgramDirs::allIn(folder.empty() ? executableDir : folder), true};
}

ProgramDirChoice ChooseProgramDir(const std::string& dataDir, const std::string& executableDir) {
  if (!dataDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(dataDir, ec);
    return ResolveProgramDir(dataDir);
  }
  if (!InstalledDataDir(executableDir).empty()) {
    ProgramDirChoice choice = ResolveProgramDir({});
    choice.fellBack = false;  // the usual place of an installed program, nothing to report
    // Started from the desktop's menu, its current directory is $HOME or "/".
    choice.dirs.catalogue = choice.dirs.state + "/vintrel.db";
    return choice;
  }
  return ResolveProgramDir(executableDir);
}

ProgramDirChoice PrepareFrontEnd(const FrontEndOptions& options, const std::string& executableDir) {
  // The transport reads the extra trusted certificates from the environment.
  if (!options.caFile.empty()) setenv("PANSIFT_CA_FILE", options.caFile.c_str(), 1);
  ProgramDirChoice choice = ChooseProgramDir(options.dataDir, executableDir);
  if (!options.catalogue.empty()) choice.dirs.catalogue = options.catalogue;
  return choice;
}

void ApplyFrontEndOptions(AppState& app, const FrontEndOptions& options) {
  if (!options.netdiskOrigin.empty()) app.origins.netdisk = TrimOrigin(options.netdiskOrigin);
  if (!options.passportOrigin.empty()) app.origins.passport = TrimOrigin(options.passportOrigin);
  if (!options.portalOrigin.empty()) app.origins.portal = TrimOrigin(options.portalOrigin);
}

void FinishFrontEndStart(AppState& app, const ProgramDirChoice& choice) {
  SelectTransport(app.curlMode);
  if (!choice.fellBack) return;
  std::string where = choice.dirs.config;
  if (choice.dirs.state != choice.dirs.config) where += "、" + choice.dirs.state;
  constexpr std::string_view kFellBack = "程序所在目录不可写，设置和日志保存在：";
  AppendLog(app, L8(kFellBack) + Utf8ToLocal(where), std::string(kFellBack) + where);
}

bool ReadCurlSwitch(const std::string& netsetPath) {
  std::string bytes = ReadOwnFile(netsetPath).bytes;
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
  app.curlMode = ReadCurlSwitch(app.configFile("netset.ini"));
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
