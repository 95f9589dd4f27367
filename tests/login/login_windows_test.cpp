// The login windows against the simulator's login pages, in a real embedded browser.
// Each test starts browser profiles, which takes seconds: the cases are few and
// each walks a whole path.
#include "gui/login_windows.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QVariant>
#include <QWebEngineView>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "gui/qt_text.h"
#include "simulator.h"
#include "support/pump.h"
#include "support/sim_app.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::PumpUntil;

QString Q(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

// The scripted user of the pages: waits for loads and runs scripts in the view.
class Browser {
 public:
  explicit Browser(QWebEngineView* view) : view_(view) {
    QObject::connect(view->page(), &QWebEnginePage::loadFinished, [this](bool ok) {
      if (ok) loadedUrl_ = view_->url().toString();
    });
  }
  /// Waits until a page whose address starts with `prefix` has finished loading
  /// (the view's address changes when a load starts, so it is read at the end).
  bool waitFor(const std::string& prefix) {
    return PumpUntil([&] { return loadedUrl_.startsWith(Q(prefix)); });
  }
  void load(const std::string& url) {
    loadedUrl_.clear();
    view_->load(QUrl(Q(url)));
  }
  /// Runs `script` in the page and returns its result.
  QVariant run(const QString& script) {
    bool done = false;
    QVariant result;
    view_->page()->runJavaScript(script, [&](const QVariant& value) {
      result = value;
      done = true;
    });
    PumpUntil([&] { return done; });
    return result;
  }
  QString html() { return run(QStringLiteral("document.documentElement.outerHTML")).toString(); }
  /// Clicks the element with `id` as a script would; the load it starts is awaited
  /// with waitFor.
  void click(const std::string& id) {
    loadedUrl_.clear();
    // No waiting for a result: the click may take the page away first.
    view_->page()->runJavaScript(
        QStringLiteral("document.getElementById('%1').click()").arg(Q(id)));
  }
  /// Forgets the last load, before something else starts one.
  void expectLoad() { loadedUrl_.clear(); }

 private:
  QWebEngineView* view_;
  QString loadedUrl_;
};

class LoginWindowTest : public ::testing::Test, protected testing::SimApp {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service.started);
    cookies = service.sim.addAccount({.userName = "浏览器*用户", .uk = "7770001"});
  }
  void TearDown() override { controller.waitForWorkers(); }

  // Saves the window into the folder named by PANSIFT_SCREENSHOT_DIR, when set.
  static void screenshot(QWidget* window, const char* name) {
    const char* folder = std::getenv("PANSIFT_SCREENSHOT_DIR");
    if (!folder || !*folder) return;
    PumpUntil([] { return false; }, 1000);  // let the page paint
    window->grab().save(QString::fromUtf8(folder) + QLatin1Char('/') + QString::fromUtf8(name));
  }

  MainForm form;
  AccountStore accounts;
  MainWindow controller{app, form, accounts};
  std::string cookies;
};

TEST_F(LoginWindowTest, ControlsSitWhereDesigned) {
  struct Control {
    LoginWay way;
    const char* name;
    QRect rect;
  };
  const std::vector<Control> controls = {
      {LoginWay::kWay1, "按钮1", QRect(19, 4, 88, 20)},
      {LoginWay::kWay1, "按钮2", QRect(133, 5, 88, 20)},
      {LoginWay::kWay1, "按钮3", QRect(259, 5, 88, 20)},
      {LoginWay::kWay1, "透明标签1", QRect(463, 7, 734, 16)},
      {LoginWay::kWay1, "画板2", QRect(8, 30, 1200, 580)},
      {LoginWay::kWay2, "按钮1", QRect(19, 8, 88, 20)},
      {LoginWay::kWay2, "按钮2", QRect(133, 9, 88, 20)},
      {LoginWay::kWay2, "按钮3", QRect(259, 9, 88, 20)},
      {LoginWay::kWay2, "透明标签1", QRect(463, 10, 734, 16)},
      {LoginWay::kWay2, "loginView", QRect(8, 32, 1200, 560)},
  };
  for (LoginWay way : {LoginWay::kWay1, LoginWay::kWay2}) {
    std::string profileDir = way == LoginWay::kWay1 ? PrepareWay1Browser(app.dirs.cache) : "";
    LoginWindow window(controller, way, profileDir);
    EXPECT_EQ(window.size(), way == LoginWay::kWay1 ? QSize(1222, 643) : QSize(1222, 623));
    for (const Control& c : controls) {
      if (c.way != way) continue;
      SCOPED_TRACE(c.name);
      auto* widget = window.findChild<QWidget*>(Ui(c.name));
      ASSERT_NE(widget, nullptr);
      EXPECT_EQ(widget->geometry(), c.rect);
      EXPECT_FALSE(widget->accessibleName().isEmpty());
    }
  }
}

TEST_F(LoginWindowTest, Way1LoginAddsTheAccountAndTheNextWay1StartsLoggedOut) {
  std::string profileDir = PrepareWay1Browser(app.dirs.cache);
  ASSERT_FALSE(profileDir.empty());
  auto window = std::make_unique<LoginWindow>(controller, LoginWay::kWay1, profileDir);
  EXPECT_EQ(window->windowTitle(), Ui("百度帐号登陆_方式1"));
  window->show();
  Browser browser(window->view());
  const LoginPages pages = LoginPagesFor(app.origins, LoginWay::kWay1);
  ASSERT_TRUE(browser.waitFor(pages.start));
  screenshot(window.get(), "login-way1.png");

  // The user picks the account on the passport page; its cookies reach the Netdisk origin.
  browser.click("login-7770001");
  ASSERT_TRUE(PumpUntil([&] { return IsLoginDone(window->capturedCookies()); }));
  browser.load(app.origins.netdisk + "/");
  ASSERT_TRUE(browser.waitFor(app.origins.netdisk + "/disk/main"));
  EXPECT_TRUE(browser.html().contains(QStringLiteral("\"loginstate\":1")));
  const std::string captured = window->capturedCookies();
  for (const char* name : {"BAIDUID=", "BDUSS=", "STOKEN="})
    EXPECT_NE(captured.find(name), std::string::npos) << name;
  EXPECT_NE(captured.find("BDUSS=" + service.sim.account("浏览器*用户")->bduss + "; "),
            std::string::npos);
  EXPECT_TRUE(captured.ends_with("; "));

  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(platform.prompts().empty());  // a finished login closes without asking
  controller.waitForWorkers();
  ASSERT_EQ(accounts.rowCount(), 1);
  EXPECT_EQ(accounts.cellText(0, kColumnUserName), L8("浏览器_用户"));
  EXPECT_EQ(accounts.cellText(0, kColumnCookies), captured);
  EXPECT_EQ(accounts.cellText(0, kColumnUk), "7770001");
  // While open, the window's browser data is the user's alone; once the window has
  // gone (its cookies handed over) the data is gone too.
  EXPECT_EQ(std::filesystem::status(profileDir).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  window.reset();
  EXPECT_FALSE(std::filesystem::exists(profileDir));

  // Way 1 again: the profile folder was emptied, so the service sees no login.
  std::string nextDir = PrepareWay1Browser(app.dirs.cache);
  ASSERT_FALSE(nextDir.empty());
  EXPECT_NE(nextDir, profileDir);
  window = std::make_unique<LoginWindow>(controller, LoginWay::kWay1, nextDir);
  window->show();
  Browser again(window->view());
  ASSERT_TRUE(again.waitFor(pages.start));
  again.load(app.origins.netdisk + "/");
  ASSERT_TRUE(again.waitFor(app.origins.netdisk + "/disk/main"));
  EXPECT_TRUE(again.html().contains(QStringLiteral("\"loginstate\":0")));
  EXPECT_FALSE(IsLoginDone(window->capturedCookies()));
  platform.answerNext(kIdYes);
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(accounts.rowCount(), 1);
}

TEST_F(LoginWindowTest, Way2AsksBeforeClosingWithoutLoginAndOpensNewWindowsInItsView) {
  auto window = std::make_unique<LoginWindow>(controller, LoginWay::kWay2);
  EXPECT_EQ(window->windowTitle(), Ui("百度帐号登陆_方式2"));
  window->show();
  Browser browser(window->view());
  const LoginPages pages = LoginPagesFor(app.origins, LoginWay::kWay2);
  ASSERT_TRUE(browser.waitFor(pages.start));
  screenshot(window.get(), "login-way2.png");

  // Not logged in: the question, and No keeps the window and its page.
  platform.answerNext(kIdNo);
  window->close();
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].caption, L8("确认操作："));
  EXPECT_EQ(platform.prompts()[0].text, L8("可能没有登陆成功，确定退出吗？"));
  EXPECT_TRUE(window->view()->url().toString().startsWith(Q(pages.start)));

  // 按钮3 opens the portal with its hint; the portal's netdisk link asks for a new
  // window, which loads in the same view.
  QWebEnginePage* page = window->view()->page();
  auto* portalButton = window->findChild<QPushButton*>(Ui("按钮3"));
  ASSERT_NE(portalButton, nullptr);
  browser.expectLoad();
  portalButton->click();
  ASSERT_TRUE(browser.waitFor(app.origins.portal));
  ASSERT_EQ(platform.prompts().size(), 2u);
  EXPECT_EQ(platform.prompts()[1].timeoutMs, 10000);
  EXPECT_TRUE(portalButton->isEnabled());
  browser.click("netdisk");
  ASSERT_TRUE(browser.waitFor(app.origins.netdisk + "/disk/main"));
  EXPECT_EQ(window->view()->page(), page);

  // Logging in through the portal's login link, then closing, adds the account.
  browser.load(app.origins.portal);
  ASSERT_TRUE(browser.waitFor(app.origins.portal));
  browser.click("login");
  ASSERT_TRUE(browser.waitFor(app.origins.passport));
  browser.click("login-7770001");
  ASSERT_TRUE(browser.waitFor(app.origins.portal));
  EXPECT_TRUE(browser.html().contains(Ui("浏览器*用户")));
  const std::string captured = window->capturedCookies();
  EXPECT_TRUE(IsLoginDone(captured));
  EXPECT_FALSE(captured.ends_with("; "));
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(platform.prompts().size(), 2u);  // no question after a login
  controller.waitForWorkers();
  ASSERT_EQ(accounts.rowCount(), 1);
  EXPECT_EQ(accounts.cellText(0, kColumnCookies), captured);
}

}  // namespace
}  // namespace pansift
