#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "gui/main_window_view.h"
#include "gui/qt_platform.h"
#include "gui/qt_text.h"
#include "simulator.h"
#include "support/pump.h"
#include "support/sim_app.h"
#include "support/temp_dir.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::PumpUntil;

TEST(AddAccountWindow, PastedCookiesAppearAsARowAfterClickingTheAddButton) {
  testing::SimService service;
  ASSERT_TRUE(service.started);
  std::string cookies = service.sim.addAccount({.userName = "界面*用户", .uk = "5550001"});
  testing::TempDir dir;
  QtPlatform platform;
  AppState app(platform, dir.path());
  app.origins.netdisk = service.sim.netdiskOrigin();
  MainWindowView window(app);
  window.show();

  auto* edit = window.findChild<QPlainTextEdit*>(Ui("编辑框_百度cookies"));
  auto* add = window.findChild<QPushButton*>(Ui("按钮3"));
  auto* list = window.findChild<QTreeWidget*>(Ui("超级列表框1"));
  auto* tabs = window.findChild<QTabWidget*>(Ui("高级选择夹1"));
  ASSERT_TRUE(edit && add && list && tabs);
  tabs->setCurrentIndex(kTabAddCookie);
  edit->setPlainText(QString::fromUtf8(cookies.c_str()));

  // The user confirms every message the worker shows.
  QStringList messages;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (!box || !box->isVisible() || messages.contains(box->text())) continue;
      messages << box->text();
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    }
  });
  user.start(20);

  add->click();
  ASSERT_TRUE(PumpUntil(
      [&] { return list->topLevelItemCount() == 1 && tabs->currentIndex() == kTabAccounts; }));
  QTreeWidgetItem* row = list->topLevelItem(0);
  EXPECT_EQ(row->text(kColumnOrdinal), QStringLiteral("1"));
  EXPECT_EQ(row->text(kColumnUserName), Ui("界面_用户"));
  EXPECT_EQ(row->text(kColumnStatus), Ui("刚添加"));
  EXPECT_EQ(row->text(kColumnCookies), QString::fromUtf8(cookies.c_str()));
  EXPECT_EQ(row->text(kColumnUk), QStringLiteral("5550001"));
  EXPECT_TRUE(PumpUntil([&] { return edit->toPlainText().isEmpty(); }));
  EXPECT_EQ(
      messages,
      QStringList{Ui("添加成功，如果需要软件下次自动导入此cookies，请点击 保存cookies 按钮。")});
  window.controller().waitForWorkers();
}

// The event table starts the operations on workers of its own; the window is not needed.
class AccountEventsTest : public ::testing::Test, protected testing::SimApp {
 protected:
  void SetUp() override { ASSERT_TRUE(service.started); }

  MainForm form;
  AccountStore accounts;
  MainWindow window{app, form, accounts};
};

TEST_F(AccountEventsTest, AddButtonStartsNothingWithoutACookieName) {
  form.setText(FormText::kCookies, "foo=bar");
  window.onAddAccountClicked();
  EXPECT_EQ(window.workers().running(), 0);
  window.waitForWorkers();
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 10000);
  EXPECT_EQ(service.sim.log().total(), 0u);
  EXPECT_EQ(form.text(FormText::kCookies), "foo=bar");
}

TEST_F(AccountEventsTest, AddButtonAndValidationMenuItemsRunOnWorkers) {
  std::string cookies = service.sim.addAccount({.userName = "甲"});
  form.setText(FormText::kCookies, cookies);
  window.onAddAccountClicked();
  window.waitForWorkers();
  ASSERT_EQ(accounts.rowCount(), 1);
  EXPECT_EQ(accounts.cellText(0, kColumnStatus), AccountStatusText(AccountStatus::kAdded));

  service.sim.setLogin("甲", sim::LoginState::Expired);
  accounts.setSelectedRow(0);
  window.onAccountMenu(AccountMenuItem::kValidateSelected);
  window.waitForWorkers();
  EXPECT_EQ(accounts.cellText(0, kColumnStatus), AccountStatusText(AccountStatus::kInvalid));

  service.sim.setLogin("甲", sim::LoginState::Live);
  window.onAccountMenu(AccountMenuItem::kValidateAll);
  window.waitForWorkers();
  EXPECT_EQ(accounts.cellText(0, kColumnStatus), AccountStatusText(AccountStatus::kValid));
  EXPECT_EQ(platform.prompts().back().text, L8("全部验证完成。"));
}

}  // namespace
}  // namespace pansift
