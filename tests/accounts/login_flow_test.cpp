#include "accounts/login_flow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "support/app_rig.h"
#include "support/temp_dir.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace pansift {
namespace {

ServiceOrigins Origins() {
  return {"https://pan.example.com:8443", "https://passport.example.com",
          "https://www.example.com"};
}

TEST(LoginPages, EachWayHasItsStartPageAndButtonTargets) {
  const std::string encodedPan = "https%3A%2F%2Fpan.example.com%3A8443";
  const std::string passport =
      "https://passport.example.com/v2/?login&tpl=service_feedback&u=" + encodedPan;

  LoginPages way1 = LoginPagesFor(Origins(), LoginWay::kWay1);
  EXPECT_EQ(way1.buttons[0], "https://pan.example.com:8443/login?redirecturl=" + encodedPan +
                                 "%2Fdisk%2Fmain%23%2Fim%2Fsession");
  EXPECT_EQ(way1.buttons[1], passport + "%2Fmbox%2Fhomepage%23share%2Ftype%3Dsession");
  EXPECT_EQ(way1.buttons[2], "https://www.example.com");
  EXPECT_EQ(way1.start, way1.buttons[1]);

  LoginPages way2 = LoginPagesFor(Origins(), LoginWay::kWay2);
  EXPECT_EQ(way2.buttons[0], "https://pan.example.com:8443");
  EXPECT_EQ(way2.buttons[1], passport + "%2F");
  EXPECT_EQ(way2.buttons[2], "https://www.example.com");
  EXPECT_EQ(way2.start, way2.buttons[1]);
}

TEST(LoginCookies, OnlyCookiesARequestToTheOriginWouldCarryAreTaken) {
  struct Case {
    const char* what;
    BrowserCookie cookie;
    const char* origin;
    bool taken;
  };
  const std::vector<Case> cases = {
      {"host-only cookie, other port",
       {"A", "1", "127.0.0.1", "/", true},
       "https://127.0.0.1:9000",
       true},
      {"host-only cookie, other host",
       {"A", "1", "passport.sim.localhost", "/", false},
       "https://pan.sim.localhost:9000",
       false},
      {"domain cookie, host below it",
       {"A", "1", ".sim.localhost", "/", true},
       "https://pan.sim.localhost:9000",
       true},
      {"domain cookie, its own host",
       {"A", "1", ".sim.localhost", "/", false},
       "https://sim.localhost",
       true},
      {"domain cookie, a look-alike host",
       {"A", "1", ".sim.localhost", "/", false},
       "https://evilsim.localhost",
       false},
      {"host letters in another case",
       {"A", "1", "Pan.Example.com", "/", false},
       "https://pan.example.COM",
       true},
      {"cookie of a deeper path",
       {"A", "1", "127.0.0.1", "/disk", false},
       "https://127.0.0.1:9000",
       false},
      {"secure cookie over plain http",
       {"A", "1", "127.0.0.1", "/", true},
       "http://127.0.0.1:9000",
       false},
      {"not an origin", {"A", "1", "127.0.0.1", "/", false}, "127.0.0.1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoginCookies jar;
    jar.added(c.cookie);
    auto pairs = jar.forOrigin(c.origin);
    EXPECT_EQ(pairs.size(), c.taken ? 1u : 0u);
  }
}

TEST(LoginCookies, FollowsTheStoreAndKeepsTheOrderOfFirstAppearance) {
  LoginCookies jar;
  jar.added({"BAIDUID", "b1", "127.0.0.1", "/", true});
  jar.added({"BDUSS", "old", "127.0.0.1", "/", true});
  jar.added({"STOKEN", "s1", "127.0.0.1", "/", true});
  jar.added({"BDUSS", "other-path", "127.0.0.1", "/x", true});
  // An overwrite is reported as a removal and an addition; a plain addition of a
  // known cookie replaces it where it stood.
  jar.added({"STOKEN", "s2", "127.0.0.1", "/", true});
  jar.removed({"BAIDUID", "b1", "127.0.0.1", "/", true});
  jar.removed({"BDUSS", "", "127.0.0.1", "/x", true});
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(jar.forOrigin("https://127.0.0.1:1"), (Pairs{{"BDUSS", "old"}, {"STOKEN", "s2"}}));
  jar.clear();
  EXPECT_TRUE(jar.forOrigin("https://127.0.0.1:1").empty());
}

TEST(LoginCookieString, Way1EndsEveryPairWithASeparatorWay2JoinsThem) {
  std::vector<std::pair<std::string, std::string>> pairs = {{"BDUSS", "x~y"}, {"STOKEN", "abc"}};
  EXPECT_EQ(LoginCookieString(pairs, LoginWay::kWay1), "BDUSS=x~y; STOKEN=abc; ");
  EXPECT_EQ(LoginCookieString(pairs, LoginWay::kWay2), "BDUSS=x~y; STOKEN=abc");
  EXPECT_EQ(LoginCookieString({}, LoginWay::kWay1), "");
  // Bytes beyond ASCII arrive as UTF-8 and are kept as local text.
  EXPECT_EQ(LoginCookieString({{"n", "值"}}, LoginWay::kWay2), "n=" + L8("值"));
}

TEST(IsLoginDone, NeedsBothNamesInAnyLetterCase) {
  struct Case {
    const char* cookies;
    bool done;
  };
  for (const Case& c : std::vector<Case>{
           {"BAIDUID=1; BDUSS=2; STOKEN=3; ", true},
           {"bduss=2; stoken=3", true},
           {"BDUSS_BFESS=2; PTOKEN=1; STOKEN=3", true},
           {"BAIDUID=1; BDUSS=2; ", false},
           {"BAIDUID=1; STOKEN=3; ", false},
           {"", false},
       }) {
    SCOPED_TRACE(c.cookies);
    EXPECT_EQ(IsLoginDone(c.cookies), c.done);
  }
}

class LoginFlowTest : public ::testing::Test, protected testing::AppRig {};

TEST_F(LoginFlowTest, ClosingAfterALoginAddsWithoutAsking) {
  LoginCloseDecision decision = DecideLoginClose(app, LoginWay::kWay1, "BDUSS=1; STOKEN=2; ");
  EXPECT_TRUE(decision.close);
  EXPECT_TRUE(decision.addAccount);
  EXPECT_TRUE(platform.prompts().empty());
}

TEST_F(LoginFlowTest, ClosingWithoutALoginAsksAndOnlyYesCloses) {
  struct Case {
    LoginWay way;
    MessageBoxResult answer;
    const char* question;
    bool close;
  };
  const std::vector<Case> cases = {
      {LoginWay::kWay1, kIdNo, "可能没有登陆成功，确定关闭此登陆窗口吗？", false},
      {LoginWay::kWay1, kIdYes, "可能没有登陆成功，确定关闭此登陆窗口吗？", true},
      {LoginWay::kWay2, kIdNo, "可能没有登陆成功，确定退出吗？", false},
      {LoginWay::kWay2, kIdYes, "可能没有登陆成功，确定退出吗？", true},
  };
  size_t asked = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.question + std::to_string(c.answer));
    platform.answerNext(c.answer);
    LoginCloseDecision decision = DecideLoginClose(app, c.way, "BAIDUID=1; BDUSS=2; ");
    EXPECT_EQ(decision.close, c.close);
    EXPECT_FALSE(decision.addAccount);
    ASSERT_EQ(platform.prompts().size(), ++asked);
    const RecordedPrompt prompt = platform.prompts().back();
    EXPECT_EQ(prompt.caption, L8("确认操作："));
    EXPECT_EQ(prompt.text, L8(c.question));
    EXPECT_EQ(prompt.timeoutMs, 0);  // the question waits for the user
    EXPECT_EQ(prompt.style, kStyleYesNoQuestion);
  }
}

TEST_F(LoginFlowTest, EachWay1ProfileStartsInANewEmptyFolderAndEarlierOnesAreGone) {
  namespace fs = std::filesystem;
  const fs::path area = LoginProfileArea(dir.path());
  EXPECT_EQ(area.parent_path(), fs::path(dir.path()));
  const fs::path first = NewLoginProfileDir(dir.path());
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.parent_path(), area);
  EXPECT_TRUE(fs::is_empty(first));

  // What the first browser wrote, and what an earlier reset moved aside.
  fs::create_directories(first / "Session Storage");
  std::ofstream(first / "Cookies") << "BDUSS";
  std::ofstream(area.parent_path() / "other") << "kept";
  fs::path earlier = area;
  earlier += ".old-1-1";
  fs::create_directories(earlier / "Session Storage");

  const fs::path second = NewLoginProfileDir(dir.path());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(second, first);
  EXPECT_TRUE(fs::is_empty(second));
  EXPECT_FALSE(fs::exists(first));
  // The cache folder holds the new area and the unrelated file, nothing else.
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(area.parent_path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"login-profile", "other"}));

  // A file where the cache folder should be: no profile can be placed.
  testing::TempDir blocked;
  std::ofstream(fs::path(blocked.path()) / "cache") << "not a folder";
  EXPECT_EQ(NewLoginProfileDir(blocked.file("cache")), "");
}

// The profile holds the login's cookies: only its user may enter the area and the
// folder, whatever the umask, and an area made earlier with a wider mode is narrowed.
TEST_F(LoginFlowTest, Way1ProfileFoldersArePrivate) {
  namespace fs = std::filesystem;
  const fs::path area = LoginProfileArea(dir.path());
  struct Case {
    const char* what;
    mode_t umask;
    fs::perms existingArea;  // none: no area yet
  } cases[] = {
      {"fresh, usual umask", 022, fs::perms::none},
      {"fresh, no umask", 0, fs::perms::none},
      {"strict umask", 077, fs::perms::none},
      {"an open area", 022, fs::perms::all},
      {"an area of the usual mode", 022,
       fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
           fs::perms::others_read | fs::perms::others_exec},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(fs::path(dir.path()) / "cache");
    if (c.existingArea != fs::perms::none) {
      fs::create_directories(area);
      fs::permissions(area, c.existingArea);
    }
    const mode_t previous = ::umask(c.umask);
    const fs::path profile = NewLoginProfileDir(dir.path());
    ::umask(previous);
    ASSERT_FALSE(profile.empty());
    for (const fs::path& folder : {area, profile}) {
      EXPECT_EQ(fs::symlink_status(folder).type(), fs::file_type::directory) << folder;
      EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all) << folder;
    }
    RemoveLoginProfileDir(profile);
  }
}

// A closed window's folder goes at once; what the browsers left behind goes when an
// account is removed, except the folder of a window still open.
TEST_F(LoginFlowTest, Way1ProfilesAreRemovedWhenTheirWindowOrAnAccountGoes) {
  namespace fs = std::filesystem;
  const fs::path area = LoginProfileArea(dir.path());
  const fs::path closed = NewLoginProfileDir(dir.path());
  ASSERT_FALSE(closed.empty());
  std::ofstream(closed / "Cookies") << "BDUSS";
  fs::create_directories(closed / "Session Storage" / "x");
  RemoveLoginProfileDir(closed);
  EXPECT_FALSE(fs::exists(fs::symlink_status(closed)));
  RemoveLoginProfileDir("");  // a window without a folder of its own

  const fs::path open = NewLoginProfileDir(dir.path());
  ASSERT_FALSE(open.empty());
  std::ofstream(open / "Cookies") << "BDUSS";
  // What a closing browser wrote late, an area an earlier reset moved aside, and a
  // file of someone else in the cache folder.
  fs::create_directories(closed / "Network");
  std::ofstream(closed / "Network" / "Cookies") << "BDUSS";
  fs::path aside = area;
  aside += ".old-7-7";
  fs::create_directories(aside / "7-6");
  std::ofstream(area.parent_path() / "other") << "kept";

  RemoveLeftoverLoginProfiles(dir.path());
  EXPECT_FALSE(fs::exists(fs::symlink_status(closed)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(aside)));
  EXPECT_TRUE(fs::exists(open / "Cookies"));
  EXPECT_TRUE(fs::exists(area.parent_path() / "other"));

  RemoveLoginProfileDir(open);
  fs::create_directories(open);  // the browser again, after its window closed
  RemoveLeftoverLoginProfiles(dir.path());
  EXPECT_TRUE(fs::is_empty(area));
  // A link in the area's place: what it points to is left alone.
  testing::TempDir elsewhere;
  std::ofstream(fs::path(elsewhere.path()) / "mine") << "kept";
  fs::remove(area);
  fs::create_directory_symlink(elsewhere.path(), area);
  RemoveLeftoverLoginProfiles(dir.path());
  EXPECT_TRUE(fs::exists(fs::path(elsewhere.path()) / "mine"));
  fs::remove(area);
  // No area at all, or no cache folder: nothing to do.
  fs::remove_all(area.parent_path());
  RemoveLeftoverLoginProfiles(dir.path());
  EXPECT_FALSE(fs::exists(area.parent_path()));
}

TEST_F(LoginFlowTest, Way1AsksOnlyWhenTheBrowserCannotStart) {
  EXPECT_TRUE(ConfirmWay1CanStart(app, true));
  EXPECT_TRUE(platform.prompts().empty());

  platform.answerNext(kIdNo);
  EXPECT_FALSE(ConfirmWay1CanStart(app, false));
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].caption, L8("提示："));
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 30000);
  EXPECT_EQ(platform.prompts()[0].style, kStyleYesNoQuestion);
  EXPECT_NE(platform.prompts()[0].text.find(L8("也可通过 方式2 进行登陆。")), std::string::npos);
  EXPECT_TRUE(platform.openedUrls().empty());

  platform.answerNext(kIdYes);
  EXPECT_FALSE(ConfirmWay1CanStart(app, false));
  ASSERT_EQ(platform.openedUrls().size(), 1u);
  EXPECT_EQ(platform.openedUrls()[0], BrowserHelpPageUrl());
  EXPECT_TRUE(platform.openedUrls()[0].ends_with("/cookies.html#browser"));
}

TEST_F(LoginFlowTest, ButtonsLoadTheirPageBetweenDisablingAndEnablingWithTheirWaits) {
  struct Case {
    const char* what;
    LoginWay way;
    int button;
    long long sleptBeforeLoad;
    long long sleptAfterLoad;
    bool hint;
  };
  const std::vector<Case> cases = {
      {"way 1, 按钮1", LoginWay::kWay1, 0, 0, 1500, false},
      {"way 1, 按钮2", LoginWay::kWay1, 1, 0, 1500, false},
      {"way 1, 按钮3", LoginWay::kWay1, 2, 30, 0, true},
      {"way 2, 按钮1", LoginWay::kWay2, 0, 0, 3000, false},
      {"way 2, 按钮2", LoginWay::kWay2, 1, 0, 3000, false},
      {"way 2, 按钮3", LoginWay::kWay2, 2, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoginPages pages = LoginPagesFor(Origins(), c.way);
    std::vector<std::string> events;
    long long start = clock.sleptMs();
    long long atLoad = -1;
    LoginButtonView view;
    view.setButtonEnabled = [&](int i, bool enabled) {
      events.push_back((enabled ? "on" : "off") + std::to_string(i));
    };
    view.load = [&](const std::string& url) {
      events.push_back(url);
      atLoad = clock.sleptMs() - start;
    };
    size_t promptsBefore = platform.prompts().size();
    PressLoginButton(app, c.way, c.button, pages, view);
    EXPECT_EQ(events, (std::vector<std::string>{"off0", "off1", "off2",
                                                pages.buttons[static_cast<size_t>(c.button)], "on0",
                                                "on1", "on2"}));
    EXPECT_EQ(atLoad, c.sleptBeforeLoad);
    EXPECT_EQ(clock.sleptMs() - start, c.sleptBeforeLoad + c.sleptAfterLoad);
    ASSERT_EQ(platform.prompts().size(), promptsBefore + (c.hint ? 1 : 0));
    if (c.hint) {
      EXPECT_EQ(platform.prompts().back().text,
                L8("先点网页最右边的登陆，登陆成功之后再点网页上方的 网盘 连接，进入网盘后即可关"
                   "闭此页面。"));
      EXPECT_EQ(platform.prompts().back().timeoutMs, 10000);
      EXPECT_EQ(platform.prompts().back().caption, L8("提示："));
    }
  }
}

}  // namespace
}  // namespace pansift
