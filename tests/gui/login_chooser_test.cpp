#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "accounts/login_flow.h"
#include "app/main_window.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "gui/login_windows.h"
#include "gui/main_window_view.h"
#include "gui/qt_text.h"
#include "support/app_rig.h"
#include "support/pump.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::PumpUntil;

class LoginChooserTest : public ::testing::Test, protected testing::AppRig {
 protected:
  MainForm form;
  AccountStore accounts;
  MainWindow controller{app, form, accounts};
};

TEST_F(LoginChooserTest, ShowsItsControlsWhereDesigned) {
  LoginChooser chooser(controller);
  EXPECT_EQ(chooser.windowTitle(), Ui("网盘登陆方式选择"));
  EXPECT_EQ(chooser.size(), QSize(338, 299));
  struct Control {
    const char* name;
    QRect rect;
  };
  for (const Control& c : std::vector<Control>{
           {"透明标签_下方任意方式都可实现登陆网盘", QRect(18, 7, 301, 32)},
           {"按钮1", QRect(16, 47, 304, 32)},
           {"透明标签1", QRect(14, 88, 258, 32)},
           {"透明标签_安装edge", QRect(272, 88, 59, 32)},
           {"按钮2", QRect(14, 129, 304, 32)},
           {"透明标签2", QRect(14, 165, 301, 32)},
           {"按钮3", QRect(14, 213, 304, 32)},
       }) {
    SCOPED_TRACE(c.name);
    auto* widget = chooser.findChild<QWidget*>(Ui(c.name));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), c.rect);
    EXPECT_FALSE(widget->accessibleName().isEmpty());
  }
  EXPECT_EQ(chooser.findChild<QPushButton*>(Ui("按钮2"))->text(),
            Ui("方式2，适用于所有系统，但可能因兼容问题偶尔报错"));
}

TEST_F(LoginChooserTest, Way1WithoutItsBrowserAsksAndLeavesTheChooserOpen) {
  // Qt WebEngine looks for its helper process here first; no browser is started.
  QByteArray saved = qgetenv("QTWEBENGINEPROCESS_PATH");
  qputenv("QTWEBENGINEPROCESS_PATH", QByteArray(dir.file("missing/QtWebEngineProcess").c_str()));
  LoginChooser chooser(controller);
  chooser.show();
  auto* way1 = chooser.findChild<QPushButton*>(Ui("按钮1"));
  platform.answerNext(kIdYes);
  way1->click();
  if (saved.isNull()) {
    qunsetenv("QTWEBENGINEPROCESS_PATH");
  } else {
    qputenv("QTWEBENGINEPROCESS_PATH", saved);
  }
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 30000);
  EXPECT_NE(platform.prompts()[0].text.find(L8("也可通过 方式2 进行登陆。")), std::string::npos);
  EXPECT_EQ(platform.openedUrls(), std::vector<std::string>{BrowserHelpPageUrl()});
  EXPECT_TRUE(way1->isEnabled());
  EXPECT_TRUE(chooser.isVisible());
  EXPECT_TRUE(chooser.findChildren<LoginWindow*>().isEmpty());
}

TEST_F(LoginChooserTest, HelpLabelAndButtonOpenTheirPages) {
  LoginChooser chooser(controller);
  chooser.show();
  auto* label = chooser.findChild<QLabel*>(Ui("透明标签_安装edge"));
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), label->mapToGlobal(QPointF(5, 5)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(label, &press);
  chooser.findChild<QPushButton*>(Ui("按钮3"))->click();
  EXPECT_EQ(platform.openedUrls(),
            (std::vector<std::string>{BrowserHelpPageUrl(), CookieHelpUrl()}));
  EXPECT_FALSE(CookieHelpUrl().empty());
}

TEST_F(LoginChooserTest, LoginButtonOpensTheChooserModallyOverTheMainWindow) {
  MainWindowView window(controller);
  window.show();
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* chooser = qobject_cast<LoginChooser*>(QApplication::activeModalWidget());
    if (!chooser) return;
    seen = chooser->isModal() && chooser->parentWidget() == &window;
    chooser->close();
  });
  window.findChild<QPushButton*>(Ui("按钮2"))->click();
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace pansift
