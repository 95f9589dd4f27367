// Logging in through an embedded browser: the start pages of the two login windows,
// their buttons' waits and hints, the cookies a window's browser holds for the
// Netdisk web origin, and the decision taken when a login window is asked to close.
// The browser itself belongs to the front end; everything it decides is here.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace pansift {

struct AppState;
struct ServiceOrigins;

enum class LoginWay : int {
  kWay1 = 1,  // a browser profile of its own on disk, emptied whenever the window opens
  kWay2 = 2,  // a private (off-the-record) browser profile whose cookies are cleared
};

/// The pages of a login window: what 按钮1, 按钮2 and 按钮3 load, and the page the
/// window opens with.
struct LoginPages {
  std::array<std::string, 3> buttons;
  std::string start;
};
LoginPages LoginPagesFor(const ServiceOrigins& origins, LoginWay way);

/// A cookie as the browser's cookie store reports it (bytes as the store gives them,
/// normally ASCII). A domain with a leading "." is a domain cookie, one without it a
/// host-only cookie.
struct BrowserCookie {
  std::string name;
  std::string value;
  std::string domain;
  std::string path;
  bool secure = false;
};

/// The cookies one login window's browser holds, kept up to date from the cookie
/// store's added and removed notifications, in the order they first appeared.
class LoginCookies {
 public:
  /// A cookie the store added; one of the same name, domain and path is replaced in place.
  void added(BrowserCookie cookie);
  /// A cookie the store removed (expired, deleted or about to be overwritten).
  void removed(const BrowserCookie& cookie);
  void clear() { cookies_.clear(); }
  /// Names and values of the cookies a request to `origin` ("https://host[:port]")
  /// would carry: the host matches the cookie's domain, the path is "/", and secure
  /// cookies only over https. Ports do not matter to cookies.
  std::vector<std::pair<std::string, std::string>> forOrigin(const std::string& origin) const;

 private:
  std::vector<BrowserCookie> cookies_;
};

/// The captured cookie string in local text: way 1 writes every pair as
/// name "=" value "; " (so the text ends with "; "); way 2 as a page's cookie text,
/// the pairs joined by "; ".
std::string LoginCookieString(const std::vector<std::pair<std::string, std::string>>& pairs,
                              LoginWay way);

/// A login is done when the cookie string holds both "stoken" and "bduss", in any
/// letter case.
bool IsLoginDone(const std::string& cookies);

struct LoginCloseDecision {
  bool close = false;       // let the window (and the chooser) close
  bool addAccount = false;  // hand the cookie string to AddAccount on a worker
};
/// When a login window is asked to close: a finished login closes and adds;
/// otherwise the user is asked (caption "确认操作：", no time-out) and Yes closes
/// without adding, anything else keeps the window.
LoginCloseDecision DecideLoginClose(AppState& app, LoginWay way, const std::string& cookies);

/// The folder in the cache folder `cacheDir` that holds way 1's browser profiles.
std::string LoginProfileArea(const std::string& cacheDir);
/// Deletes everything earlier way 1 windows left in LoginProfileArea, so that no
/// earlier login survives, and returns a new empty folder in it for the next
/// window's profile; "" when the old profiles cannot be removed or the folder cannot
/// be made. The folder is new each time because a browser that just closed may still
/// write into its own folder for a moment. The area and the folder are readable by
/// the user only (0700; an existing area is made so), as the profile holds the
/// login's cookies. The folder counts as open until RemoveLoginProfileDir.
std::string NewLoginProfileDir(const std::string& cacheDir);
/// Deletes a way 1 window's profile folder once the window has closed and its
/// cookies have been taken.
void RemoveLoginProfileDir(const std::string& profileDir);
/// Deletes the profiles way 1 windows left behind in LoginProfileArea (what a
/// closing browser wrote after its folder was removed, or a window open when the
/// program ended), except those of windows open now. Removing an account calls it:
/// any of them may hold that account's login.
void RemoveLeftoverLoginProfiles(const std::string& cacheDir);

/// Chooser 按钮1: true when the way 1 window may open. When the embedded browser
/// cannot start, asks whether to open the page that explains what it needs (30 s,
/// question icon) and opens it on Yes; the user can still choose way 2.
bool ConfirmWay1CanStart(AppState& app, bool browserCanStart);
/// The help page's section on the embedded browser ("" when there is no help page);
/// opened by the question above and by the chooser's label 透明标签_安装edge.
std::string BrowserHelpPageUrl();
/// The cookie help page (chooser 按钮3); "" when there is none.
std::string CookieHelpUrl();

/// What a login window's buttons act on.
struct LoginButtonView {
  std::function<void(int button, bool enabled)> setButtonEnabled;  // button 0..2
  std::function<void(const std::string& url)> load;
};
/// Login window button `button` (0: 按钮1 .. 2: 按钮3): disables the three buttons,
/// loads the button's page, waits (way 1 blocks: 1500 ms after 按钮1 and 按钮2,
/// 30 ms before 按钮3's page; way 2 keeps the UI live for 3000 ms after 按钮1 and
/// 按钮2), shows the portal hint after 按钮3, and enables the buttons again.
void PressLoginButton(AppState& app, LoginWay way, int button, const LoginPages& pages,
                      const LoginButtonView& view);

}  // namespace pansift
