#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <cstdlib>
#include <thread>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "gui/main_window_view.h"
#include "gui/qt_text.h"
#include "support/app_rig.h"
#include "support/pump.h"
#include "support/sim_app.h"
#include "util/codepage.h"
#include "util/files.h"

namespace pansift {
namespace {

using testing::PumpUntil;

const std::string kThreeAccounts =
    L8("{\"dataname\":\"cookies\",\"num\":3,\"data\":["
       "{\"user\":\"甲\",\"cookies\":\"BDUSS=1\",\"uk\":\"11\",\"bdstoken\":\"t1\"},"
       "{\"user\":\"乙\",\"cookies\":\"BDUSS=2\",\"uk\":\"22\",\"bdstoken\":\"t2\"},"
       "{\"user\":\"丙\",\"cookies\":\"BDUSS=3\",\"uk\":\"33\",\"bdstoken\":\"t3\"}]}");

// A window over models the test can reach, with a scripted platform.
class WindowTest : public ::testing::Test, protected testing::AppRig {
 protected:
  MainForm form;
  AccountStore accounts;
  MainWindow controller{app, form, accounts};
  MainWindowView window{controller};

  template <class T>
  T* find(const char* name) const {
    return window.findChild<T*>(Ui(name));
  }
  QTreeWidget* list() const { return find<QTreeWidget>("超级列表框1"); }
  QTabWidget* tabs() const { return find<QTabWidget>("高级选择夹1"); }
  // The tab a control lies on, or -1 when it lies on the window itself.
  int tabOf(QWidget* widget) const {
    for (int i = 0; i < tabs()->count(); ++i) {
      if (tabs()->widget(i)->isAncestorOf(widget)) return i;
    }
    return -1;
  }
  QAction* menuAction(QMenu* menu, const char* text) const {
    for (QAction* action : menu->actions()) {
      if (action->text() == Ui(text)) return action;
    }
    return nullptr;
  }
};

TEST_F(WindowTest, EveryControlIsThereByNameWithItsTextAndTab) {
  enum Kind { kLabel, kButton, kLine, kMulti, kCheck, kRadio, kGroup };
  struct Case {
    const char* name;
    Kind kind;
    const char* text;
    int tab;
  };
  const Case cases[] = {
      {"编辑框_百度cookies", kMulti, "", 1},
      {"按钮3", kButton, "手动添加，或通过下方的帐号登陆方式添加", 1},
      {"透明标签7", kLabel, "预读取线程数：", 2},
      {"编辑框_预读取线程数", kLine, "10", 2},
      {"透明标签3", kLabel, "检查线程数：", 2},
      {"编辑框_检查线程数", kLine, "", 2},
      {"透明标签4", kLabel, "每线程检查文件数量上限：", 2},
      {"编辑框_每次检查文件数量", kLine, "50", 2},
      {"透明标签5", kLabel, "检查深度(0表示不限制)：", 2},
      {"编辑框_检查深度", kLine, "", 2},
      {"透明标签6", kLabel, "填2表示检查到 /选中目录/1层/2层  所有层都会检查", 2},
      {"透明标签8", kLabel, "例:要查根目录下的文件，选中xx的网盘，深度填1即可", 2},
      {"透明标签9", kLabel, "检测违规如遇频繁等待/s：", 2},
      {"编辑框_自动延时秒数", kLine, "30", 2},
      {"透明标签10", kLabel, "检测违规文件提交间隔/s：", 2},
      {"编辑框_检测违规文件提交间隔", kLine, "", 2},
      {"透明标签11", kLabel, "删除违规文件操作间隔/s：", 2},
      {"编辑框_删除违规文件操作间隔", kLine, "", 2},
      {"选择框_删除文件", kCheck, "检测到被和谐文件时删除文件", 2},
      {"选择框_对半查找", kCheck, "对半查找和谐文件（请求更少）", 2},
      {"按钮7", kButton, "已和谐文件", 2},
      {"按钮_停止检查", kButton, "停止", 2},
      {"按钮_暂停检查", kButton, "暂停", 2},
      {"按钮_开始检查", kButton, "开始检查", 2},
      {"按钮2", kButton, "帐号登陆", -1},
      {"单选框_按名称正排", kRadio, "按名称正排", -1},
      {"单选框_按名称倒排", kRadio, "按名称倒排", -1},
      {"按钮4", kButton, "保存cookies", -1},
      {"单选框_按时间正排", kRadio, "按时间正排", -1},
      {"单选框_按时间倒排", kRadio, "按时间倒排", -1},
      {"透明标签1", kLabel, "通过右键选择cookies或目录进行操作", -1},
      {"按钮1", kButton, "刷新根目录", -1},
      {"透明标签_刷新提示", kLabel, "点击左下方“刷新根目录”按钮显示网盘文件列表", -1},
      {"分组框1", kGroup, "清理记录  (如果下面无显示，表示文件都正常)", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* widget = find<QWidget>(c.name);
    ASSERT_NE(widget, nullptr);
    QString text;
    switch (c.kind) {
      case kLabel:
        text = qobject_cast<QLabel*>(widget)->text();
        break;
      case kButton:
        text = qobject_cast<QPushButton*>(widget)->text();
        break;
      case kLine:
        text = qobject_cast<QLineEdit*>(widget)->text();
        break;
      case kMulti:
        text = qobject_cast<QPlainTextEdit*>(widget)->toPlainText();
        break;
      case kCheck:
        text = qobject_cast<QCheckBox*>(widget)->text();
        break;
      case kRadio:
        text = qobject_cast<QRadioButton*>(widget)->text();
        break;
      case kGroup:
        text = qobject_cast<QGroupBox*>(widget)->title();
        break;
    }
    EXPECT_EQ(text, Ui(c.text));
    EXPECT_EQ(tabOf(widget), c.tab);
    EXPECT_FALSE(widget->accessibleName().isEmpty());
    // A control that shows its own text is named by it.
    if (c.kind == kCheck || c.kind == kRadio || c.kind == kButton) {
      EXPECT_EQ(widget->accessibleName(), text);
    }
    // An edit box is named after the label that explains it.
    if (c.kind == kLine) {
      EXPECT_TRUE(widget->accessibleName().endsWith(Ui("："))) << c.name;
    }
  }
  EXPECT_FALSE(find<QCheckBox>("选择框_删除文件")->isChecked());
  EXPECT_FALSE(find<QCheckBox>("选择框_对半查找")->isChecked());
  EXPECT_TRUE(find<QRadioButton>("单选框_按名称正排")->isChecked());
  for (const char* other : {"单选框_按名称倒排", "单选框_按时间正排", "单选框_按时间倒排"}) {
    EXPECT_FALSE(find<QRadioButton>(other)->isChecked());
  }
  ASSERT_NE(tabs(), nullptr);
  ASSERT_EQ(tabs()->count(), 3);
  EXPECT_EQ(tabs()->tabText(0), Ui("选择百度帐号"));
  EXPECT_EQ(tabs()->tabText(1), Ui("手动添加cookie"));
  EXPECT_EQ(tabs()->tabText(2), Ui("清理和谐文件"));
  EXPECT_EQ(tabs()->currentIndex(), 0);
  EXPECT_EQ(tabOf(list()), 0);
  auto* tree = find<QTreeWidget>("树型框1");
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->topLevelItemCount(), 0);
  EXPECT_EQ(tabOf(tree), -1);
  EXPECT_EQ(tree->accessibleName(), Ui("点击左下方“刷新根目录”按钮显示网盘文件列表"));
  auto* log = find<QPlainTextEdit>("编辑框_日志");
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->parentWidget(), find<QGroupBox>("分组框1"));
  EXPECT_EQ(find<QPushButton>("按钮2")->geometry(), QRect(231, 484, 89, 27));
  EXPECT_EQ(tree->geometry(), QRect(330, 4, 651, 460));
}

TEST_F(WindowTest, TheAccountListHasSixColumnsOfTheirWidths) {
  const std::pair<const char*, int> columns[] = {
      {"序", 30}, {"网盘用户名", 85}, {"状态", 70}, {"cookies", 55}, {"uk", 30}, {"bdstoken", 1}};
  ASSERT_EQ(list()->columnCount(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(list()->headerItem()->text(i), Ui(columns[i].first));
    EXPECT_EQ(list()->columnWidth(i), columns[i].second) << i;
  }
  EXPECT_EQ(list()->topLevelItemCount(), 0);
}

TEST_F(WindowTest, BothPopUpMenusHoldTheirItemsInOrder) {
  QMenu* menu = window.accountMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->title(), Ui("cookies操作"));
  QStringList items;
  for (QAction* action : menu->actions())
    items << (action->isSeparator() ? QStringLiteral("-") : action->text());
  EXPECT_EQ(items,
            (QStringList{Ui("切换操作cookies为当前选中"), Ui("验证或刷新当前选中cookies有效性"),
                         Ui("验证或刷新所有cookies有效性"), Ui("删除当前选中"), QStringLiteral("-"),
                         Ui("复制网盘名"), Ui("复制cookies"), Ui("复制uk")}));
  ASSERT_NE(window.treeMenu(), nullptr);
  EXPECT_EQ(window.treeMenu()->title(), Ui("文件目录树菜单"));
  ASSERT_EQ(window.treeMenu()->actions().size(), 1);
  EXPECT_EQ(window.treeMenu()->actions()[0]->text(), Ui("开始检测选中目录"));
}

TEST_F(WindowTest, WidgetsAndTheFormFollowEachOther) {
  // The user's edits reach the form at once.
  find<QLineEdit>("编辑框_检查深度")->setText(QStringLiteral("3"));
  EXPECT_EQ(form.text(FormText::kDepth), "3");
  find<QPlainTextEdit>("编辑框_百度cookies")->setPlainText(Ui("BDUSS=甲"));
  EXPECT_EQ(form.text(FormText::kCookies), L8("BDUSS=甲"));
  find<QCheckBox>("选择框_删除文件")->setChecked(true);
  EXPECT_TRUE(form.deleteFiles());
  find<QCheckBox>("选择框_对半查找")->setChecked(true);
  EXPECT_TRUE(form.halvingSearch());
  find<QRadioButton>("单选框_按时间倒排")->setChecked(true);
  EXPECT_EQ(form.sortOrder(), SortOrder::kTimeDescending);
  tabs()->setCurrentIndex(1);
  EXPECT_EQ(form.selectedTab(), 1);

  // A worker's changes reach the widgets through the GUI thread.
  std::thread worker([&] {
    form.setText(FormText::kCheckThreads, "3");
    form.setText(FormText::kCookies, "");
    form.setEnabled(FormButton::kStartCheck, false);
    form.setCaption(FormButton::kPauseCheck, L8("继续"));
    form.setDeleteFiles(false);
    form.setHalvingSearch(false);
    form.setSortOrder(SortOrder::kNameDescending);
    form.setSelectedTab(kTabClean);
    form.hideRefreshHint();
  });
  worker.join();
  auto* hint = find<QLabel>("透明标签_刷新提示");
  ASSERT_TRUE(PumpUntil([&] { return tabs()->currentIndex() == kTabClean; }));
  EXPECT_EQ(find<QLineEdit>("编辑框_检查线程数")->text(), QStringLiteral("3"));
  EXPECT_TRUE(find<QPlainTextEdit>("编辑框_百度cookies")->toPlainText().isEmpty());
  EXPECT_FALSE(find<QPushButton>("按钮_开始检查")->isEnabled());
  EXPECT_TRUE(window.taskRunning());
  EXPECT_EQ(find<QPushButton>("按钮_暂停检查")->text(), Ui("继续"));
  EXPECT_FALSE(find<QCheckBox>("选择框_删除文件")->isChecked());
  EXPECT_FALSE(find<QCheckBox>("选择框_对半查找")->isChecked());
  EXPECT_TRUE(find<QRadioButton>("单选框_按名称倒排")->isChecked());
  EXPECT_TRUE(hint->isHidden());
}

TEST_F(WindowTest, LoadingThreeAccountsFillsTheListAndShowsTheCleanTab) {
  WriteFileBytes(dir.file("baiduset.ini"), kThreeAccounts);
  controller.start();
  controller.waitForAccountLoader();
  ASSERT_TRUE(PumpUntil(
      [&] { return list()->topLevelItemCount() == 3 && tabs()->currentIndex() == kTabClean; }));
  const char* names[] = {"甲", "乙", "丙"};
  for (int r = 0; r < 3; ++r) {
    QTreeWidgetItem* item = list()->topLevelItem(r);
    EXPECT_EQ(item->text(0), QString::number(r + 1));
    EXPECT_EQ(item->text(1), Ui(names[r]));
    EXPECT_EQ(item->text(2), Ui("从记录导入"));
    EXPECT_EQ(item->text(3), QStringLiteral("BDUSS=%1").arg(r + 1));
    EXPECT_EQ(item->text(5), QStringLiteral("t%1").arg(r + 1));
  }
  EXPECT_EQ(tabs()->tabText(tabs()->currentIndex()), Ui("清理和谐文件"));
  EXPECT_TRUE(platform.prompts().empty());
}

TEST_F(WindowTest, NoAccountFileLeavesAnEmptyListOnTheAccountTab) {
  WriteFileBytes(dir.file("baiduset.ini"), "\x01garbage");
  tabs()->setCurrentIndex(kTabAddCookie);
  controller.start();
  controller.waitForAccountLoader();
  ASSERT_TRUE(PumpUntil([&] { return tabs()->currentIndex() == kTabAccounts; }));
  EXPECT_EQ(list()->topLevelItemCount(), 0);
  EXPECT_TRUE(platform.prompts().empty());
}

// The window over a simulated service: actions that reach the network reach it.
class SimWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service.started);
    service.point(app);
  }
  // The root node's text and its children's texts, once the tree holds them.
  std::vector<std::u16string> treeTexts() {
    FolderTree& tree = controller.tree();
    std::vector<std::u16string> texts;
    if (tree.root() == kNoNode) return texts;
    texts.push_back(tree.node(tree.root())->text);
    for (NodeId child : tree.children(tree.root())) texts.push_back(tree.node(child)->text);
    return texts;
  }
  testing::SimService service;
};

TEST_F(SimWindowTest, DoubleClickAndTheMenuActOnTheRowUnderTheMouse) {
  for (const char* name : {"甲", "乙", "丙"}) {
    AccountRecord r;
    r.userName = L8(name);
    r.cookies = service.sim.addAccount({.userName = name});
    r.uk = service.sim.account(name)->uk;
    service.sim.addFile(name, std::string("/") + name + ".txt", 1);
    accounts.appendAccountRow(r);
  }
  ASSERT_EQ(list()->topLevelItemCount(), 3);
  const std::string cookiesOfB = accounts.cellText(1, kColumnCookies);

  // Double-clicking a row makes it the operating account and shows its folders.
  Q_EMIT list()->itemDoubleClicked(list()->topLevelItem(1), 1);
  EXPECT_EQ(accounts.selectedRow(), 1);
  EXPECT_EQ(app.currentUserName.get(), L8("乙"));
  EXPECT_EQ(app.currentCookies.get(), cookiesOfB);
  controller.waitForWorkers();
  EXPECT_EQ(treeTexts(), (std::vector<std::u16string>{u"乙的网盘", u"乙.txt"}));
  EXPECT_EQ(service.sim.log().last("/api/list")->cookies, cookiesOfB);

  // The menu's items work on the selected row.
  list()->setCurrentItem(list()->topLevelItem(2));
  EXPECT_EQ(accounts.selectedRow(), 2);
  menuAction(window.accountMenu(), "复制cookies")->trigger();
  EXPECT_EQ(platform.clipboard(), LocalToUnicode(accounts.cellText(2, kColumnCookies)));
  menuAction(window.accountMenu(), "切换操作cookies为当前选中")->trigger();
  EXPECT_EQ(app.currentUserName.get(), L8("丙"));
  controller.waitForWorkers();
  EXPECT_EQ(treeTexts(), (std::vector<std::u16string>{u"丙的网盘", u"丙.txt"}));

  platform.answerNext(kIdYes);
  list()->setCurrentItem(list()->topLevelItem(0));
  menuAction(window.accountMenu(), "删除当前选中")->trigger();
  ASSERT_EQ(list()->topLevelItemCount(), 2);
  EXPECT_EQ(list()->topLevelItem(0)->text(0), QStringLiteral("2"));
  EXPECT_EQ(list()->topLevelItem(0)->text(1), Ui("乙"));
  EXPECT_TRUE(list()->selectedItems().isEmpty());
  EXPECT_EQ(accounts.selectedRow(), -1);
  EXPECT_EQ(platform.prompts().back().text, L8("确定删除 甲 的cookies?"));

  // Validating every row asks the service about each and says when done; items
  // that need a selection say so.
  menuAction(window.accountMenu(), "验证或刷新所有cookies有效性")->trigger();
  controller.waitForWorkers();
  EXPECT_EQ(platform.prompts().back().text, L8("全部验证完成。"));
  ASSERT_TRUE(PumpUntil([&] { return list()->topLevelItem(1)->text(2) == Ui("有效"); }));
  EXPECT_EQ(list()->topLevelItem(0)->text(2), Ui("有效"));
  menuAction(window.accountMenu(), "删除当前选中")->trigger();
  EXPECT_EQ(platform.prompts().back().text, L8("没有选中项目。"));

  // A right-click on a row selects it and pops the menu up; elsewhere nothing.
  window.show();
  QRect rowRect = list()->visualItemRect(list()->topLevelItem(1));
  Q_EMIT list()->customContextMenuRequested(rowRect.center());
  EXPECT_EQ(accounts.selectedRow(), 1);
  EXPECT_TRUE(PumpUntil([&] { return window.accountMenu()->isVisible(); }));
  window.accountMenu()->close();
  EXPECT_EQ(service.sim.log().rejected(), 0u);
}

TEST_F(WindowTest, WorkerUpdatesOfTheStoreShowUpInTheList) {
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) {
      AccountRecord r;
      r.userName = "u" + std::to_string(i);
      accounts.appendAccountRow(r);
    }
    std::lock_guard lock(app.listLock);
    accounts.setAccountCell(3, kColumnStatus, L8("已失效"));
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return list()->topLevelItemCount() == 20; }));
  ASSERT_TRUE(PumpUntil([&] { return list()->topLevelItem(3)->text(2) == Ui("已失效"); }));
  EXPECT_EQ(list()->topLevelItem(19)->text(0), QStringLiteral("20"));
}

TEST_F(WindowTest, TheCloseQuestionKnowsWhetherATaskRuns) {
  form.setEnabled(FormButton::kStartCheck, false);
  EXPECT_FALSE(window.close());
  EXPECT_EQ(platform.prompts().back().text, L8("当前有运行中的任务，确定关闭软件？"));
  form.setEnabled(FormButton::kStartCheck, true);
  EXPECT_FALSE(window.close());
  EXPECT_EQ(platform.prompts().back().text, L8("确定关闭软件？"));
}

TEST_F(WindowTest, GrowsWithTheWindowAndKeepsItsDesignSizeAsTheLeast) {
  window.show();
  EXPECT_GE(window.width(), 991);
  EXPECT_GE(window.height(), 635);
  window.resize(1191, 735);
  ASSERT_TRUE(PumpUntil([&] { return window.width() == 1191; }));
  auto* tree = find<QTreeWidget>("树型框1");
  ASSERT_TRUE(PumpUntil([&] { return tree->width() == 851; }));
  EXPECT_EQ(tree->height(), 560);
  EXPECT_EQ(find<QGroupBox>("分组框1")->geometry(), QRect(328, 572, 856, 136));
  EXPECT_EQ(find<QPushButton>("按钮1")->geometry(), QRect(233, 670, 88, 31));
}

// Saves a picture of each tab when PANSIFT_SCREENSHOT_DIR names a folder.
TEST_F(WindowTest, Screenshots) {
  WriteFileBytes(dir.file("baiduset.ini"), kThreeAccounts);
  controller.start();
  controller.waitForAccountLoader();
  window.show();
  ASSERT_TRUE(PumpUntil([&] { return list()->topLevelItemCount() == 3; }));
  const char* folder = std::getenv("PANSIFT_SCREENSHOT_DIR");
  for (int tab = 0; tab < 3; ++tab) {
    form.setSelectedTab(tab);
    QApplication::processEvents();
    QPixmap picture = window.grab();
    EXPECT_FALSE(picture.isNull());
    if (folder) {
      QString path = QDir(QString::fromLocal8Bit(folder))
                         .filePath(QStringLiteral("pansift-tab%1.png").arg(tab));
      EXPECT_TRUE(picture.save(path));
    }
  }
}

}  // namespace
}  // namespace pansift
