#include "accounts/login_flow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#include "accounts/add_account.h"
#include "core/app_state.h"
#include "core/platform.h"
#include "core/service_origins.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

// An origin inside a query value: its colon and slashes percent-encoded.
std::string EncodeOrigin(const std::string& origin) {
  std::string out;
  for (char c : origin) {
    if (c == ':') {
      out += "%3A";
    } else if (c == '/') {
      out += "%2F";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  });
  return text;
}

bool SameCookie(const BrowserCookie& a, const BrowserCookie& b) {
  return a.name == b.name && Lower(a.domain) == Lower(b.domain) && a.path == b.path;
}

// RFC 6265 domain matching: a host-only cookie belongs to its host alone, a domain
// cookie also to every host below its domain.
bool DomainMatches(const std::string& host, const std::string& domain) {
  std::string d = Lower(domain);
  if (d.empty()) return false;
  if (d.front() != '.') return host == d;
  d.erase(0, 1);
  return host == d || (host.size() > d.size() + 1 && host.ends_with("." + d));
}

constexpr const char* kPortalHint =
    "先点网页最右边的登陆，登陆成功之后再点网页上方的 网盘 连接，进入网盘后即可关闭此页面。";

}  // namespace

LoginPages LoginPagesFor(const ServiceOrigins& origins, LoginWay way) {
  const std::string netdisk = EncodeOrigin(origins.netdisk);
  const std::string passport = origins.passport + "/v2/?login&tpl=service_feedback&u=" + netdisk;
  LoginPages pages;
  if (way == LoginWay::kWay1) {
    pages.buttons[0] =
        origins.netdisk + "/login?redirecturl=" + netdisk + "%2Fdisk%2Fmain%23%2Fim%2Fsession";
    pages.buttons[1] = passport + "%2Fmbox%2Fhomepage%23share%2Ftype%3Dsession";
  } else {
    pages.buttons[0] = origins.netdisk;
    pages.buttons[1] = passport + "%2F";
  }
  pages.buttons[2] = origins.portal;
  pages.start = pages.buttons[1];
  return pages;
}

void LoginCookies::added(BrowserCookie cookie) {
  for (BrowserCookie& known : cookies_) {
    if (SameCookie(known, cookie)) {
      known = std::move(cookie);
      return;
    }
  }
  cookies_.push_back(std::move(cookie));
}

void LoginCookies::removed(const BrowserCookie& cookie) {
  std::erase_if(cookies_, [&](const BrowserCookie& known) { return SameCookie(known, cookie); });
}

std::vector<std::pair<std::string, std::string>> LoginCookies::forOrigin(
    const std::string& origin) const {
  std::vector<std::pair<std::string, std::string>> pairs;
  size_t schemeEnd = origin.find("://");
  if (schemeEnd == std::string::npos) return pairs;
  bool https = Lower(origin.substr(0, schemeEnd)) == "https";
  std::string host = origin.substr(schemeEnd + 3);
  host = host.substr(0, host.find('/'));
  // The port (after the last colon, unless the host is a bracketed IPv6 address).
  size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) host.erase(colon);
  host = Lower(host);
  for (const BrowserCookie& cookie : cookies_) {
    if (!DomainMatches(host, cookie.domain)) continue;
    if (!cookie.path.empty() && cookie.path != "/") continue;
    if (cookie.secure && !https) continue;
    pairs.emplace_back(cookie.name, cookie.value);
  }
  return pairs;
}

std::string LoginCookieString(const std::vector<std::pair<std::string, std::string>>& pairs,
                              LoginWay way) {
  std::string text;
  for (const auto& [name, value] : pairs) {
    if (way == LoginWay::kWay2 && !text.empty()) text += "; ";
    text += Utf8ToLocal(name) + "=" + Utf8ToLocal(value);
    if (way == LoginWay::kWay1) text += "; ";
  }
  return text;
}

bool IsLoginDone(const std::string& cookies) {
  return FindText(cookies, "stoken", 1, true) > 0 && FindText(cookies, "bduss", 1, true) > 0;
}

LoginCloseDecision DecideLoginClose(AppState& app, LoginWay way, const std::string& cookies) {
  if (IsLoginDone(cookies)) return {.close = true, .addAccount = true};
  const char* question = way == LoginWay::kWay1 ? "可能没有登陆成功，确定关闭此登陆窗口吗？"
                                                : "可能没有登陆成功，确定退出吗？";
  int answer =
      TimedMessageBox(app.platform, L8("确认操作："), L8(question), 0, kStyleYesNoQuestion);
  return {.close = answer == kIdYes, .addAccount = false};
}

std::string LoginProfileArea(const std::string& cacheDir) {
  return cacheDir + "/login-profile";
}

namespace {

namespace fs = std::filesystem;

// The profile folders of the way 1 windows that are open now: a sweep for leftovers
// must not pull one away from under its browser.
std::mutex gOpenProfilesMutex;
std::set<std::string> gOpenProfiles;

// Makes `path` a folder only its owner can enter, or makes an existing folder so;
// false when something else stands there. A link is not followed.
bool MakePrivateFolder(const fs::path& path, bool mustBeNew) {
  if (::mkdir(path.c_str(), 0700) != 0 && (mustBeNew || errno != EEXIST)) return false;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  // The umask may have taken bits away; an existing folder may have more.
  return (info.st_mode & 07777) == 0700 || ::chmod(path.c_str(), 0700) == 0;
}

// Removes `path` with everything in it. remove_all gives up at the first entry that
// vanished under it, which a closing browser's own clean-up makes common: a few
// passes get past them. False when something is left.
bool RemoveTree(const fs::path& path) {
  constexpr int kPasses = 5;
  std::error_code ec;
  for (int pass = 0; pass < kPasses; ++pass) {
    fs::remove_all(path, ec);
    if (!fs::exists(fs::symlink_status(path, ec))) return true;
  }
  return false;
}

// Removes the areas that earlier resets moved aside and, unless they belong to an
// open window, the profile folders in the area. A link in the area's place is not
// followed: what it points to is not ours to empty.
void RemoveProfilesExcept(const fs::path& area, const std::set<std::string>& open) {
  std::error_code ec;
  if (fs::symlink_status(area, ec).type() == fs::file_type::directory) {
    for (const fs::directory_entry& entry : fs::directory_iterator(area, ec)) {
      if (!open.contains(entry.path().string())) RemoveTree(entry.path());
    }
  }
  const std::string prefix = area.filename().string() + ".old-";
  for (const fs::directory_entry& entry : fs::directory_iterator(area.parent_path(), ec)) {
    if (entry.path().filename().string().starts_with(prefix)) RemoveTree(entry.path());
  }
}

}  // namespace

std::string NewLoginProfileDir(const std::string& cacheDir) {
  std::error_code ec;
  const fs::path area = LoginProfileArea(cacheDir);
  const fs::path cache = area.parent_path();
  static std::atomic<unsigned> counter{0};
  const std::string unique = std::to_string(::getpid()) + "-" + std::to_string(++counter);
  // Moving the area aside first empties it at once even while a closing browser
  // still writes into its folder; what such a write keeps alive goes next time.
  if (fs::exists(fs::symlink_status(area, ec))) {
    fs::path aside = area;
    aside += ".old-" + unique;
    fs::rename(area, aside, ec);
    if (ec && !RemoveTree(area)) return {};
  }
  if (fs::is_directory(cache, ec)) RemoveProfilesExcept(area, {});
  // A late write may already have made the area again: the new profile's folder is
  // one that did not exist before, whatever else the area holds. Both are private:
  // the profile holds the login's cookies.
  const fs::path profile = area / unique;
  fs::create_directories(cache, ec);
  if (!MakePrivateFolder(area, false) || !MakePrivateFolder(profile, true)) return {};
  std::lock_guard lock(gOpenProfilesMutex);
  gOpenProfiles.insert(profile.string());
  return profile.string();
}

void RemoveLoginProfileDir(const std::string& profileDir) {
  if (profileDir.empty()) return;
  {
    std::lock_guard lock(gOpenProfilesMutex);
    gOpenProfiles.erase(profileDir);
  }
  RemoveTree(profileDir);
}

void RemoveLeftoverLoginProfiles(const std::string& cacheDir) {
  const fs::path area = LoginProfileArea(cacheDir);
  std::set<std::string> open;
  {
    std::lock_guard lock(gOpenProfilesMutex);
    open = gOpenProfiles;
  }
  std::error_code ec;
  if (fs::is_directory(area.parent_path(), ec)) RemoveProfilesExcept(area, open);
}

std::string CookieHelpUrl() {
  return CookieHelpPageUrl(ExecutableDir());
}

std::string BrowserHelpPageUrl() {
  std::string url = CookieHelpUrl();
  return url.empty() ? url : url + "#browser";
}

bool ConfirmWay1CanStart(AppState& app, bool browserCanStart) {
  if (browserCanStart) return true;
  int answer = TimedMessageBox(
      app.platform, L8("提示："),
      L8("内置浏览器无法启动（可能缺少 QtWebEngineProcess，或程序目录下的 cache "
         "文件夹不可写），是否打开说明页面查看解决办法？\r\n\r\n也可通过 方式2 进行登陆。"),
      30000, kStyleYesNoQuestion);
  if (answer == kIdYes) {
    std::string url = BrowserHelpPageUrl();
    if (!url.empty()) app.platform.openUrl(url);
  }
  return false;
}

void PressLoginButton(AppState& app, LoginWay way, int button, const LoginPages& pages,
                      const LoginButtonView& view) {
  if (button < 0 || button >= static_cast<int>(pages.buttons.size())) return;
  const bool portal = button == 2;
  for (int i = 0; i < 3; ++i) {
    view.setButtonEnabled(i, false);
    if (way == LoginWay::kWay1) ProcessEvents(app.platform);
  }
  if (way == LoginWay::kWay1) {
    // Way 1 pauses without serving the window, so a second click cannot queue up.
    if (portal) app.platform.clock().sleepFor(std::chrono::milliseconds(30));
    view.load(pages.buttons[static_cast<size_t>(button)]);
    if (!portal) app.platform.clock().sleepFor(std::chrono::milliseconds(1500));
  } else {
    view.load(pages.buttons[static_cast<size_t>(button)]);
    if (!portal) WaitPumping(app.platform, std::chrono::milliseconds(3000));
  }
  if (portal)
    TimedMessageBox(app.platform, L8("提示："), L8(kPortalHint), 10000, kStyleInformation);
  for (int i = 0; i < 3; ++i) view.setButtonEnabled(i, true);
}

}  // namespace pansift
