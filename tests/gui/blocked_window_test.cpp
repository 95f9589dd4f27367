#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeView>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "blocked/exports.h"
#include "core/app_state.h"
#include "core/main_form.h"
#include "gui/blocked_window_view.h"
#include "gui/main_window_view.h"
#include "gui/qt_platform.h"
#include "gui/qt_text.h"
#include "support/pump.h"
#include "support/sim_app.h"
#include "support/temp_dir.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::PumpUntil;

// The Qt platform with the shell, the clipboard, prompts and the file dialog taken
// over by the test: nothing leaves the process and nothing waits for a user.
class ScriptedQtPlatform : public QtPlatform {
 public:
  MessageBoxResult messageBox(std::string_view, std::string_view text, int, MessageBoxStyle,
                              WindowId owner) override {
    std::lock_guard lock(mutex_);
    prompts.push_back(LocalToUtf8(text));
    owners.push_back(owner);
    if (answers.empty()) return kIdTimeout;
    MessageBoxResult answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void setClipboard(std::u16string text) override {
    std::lock_guard lock(mutex_);
    clipboard = std::move(text);
  }
  void openUrl(const std::string& url) override {
    std::lock_guard lock(mutex_);
    urls.push_back(url);
  }
  void showInFileManager(const std::string& path) override {
    std::lock_guard lock(mutex_);
    shown.push_back(path);
  }
  void openWithDefaultProgram(const std::string& path) override {
    std::lock_guard lock(mutex_);
    opened.push_back(path);
  }
  std::string chooseOpenFile(const OpenFileRequest&) override {
    std::lock_guard lock(mutex_);
    std::string file = nextFile;
    nextFile.clear();
    return file;
  }
  template <class T>
  T get(const T& field) {
    std::lock_guard lock(mutex_);
    return field;
  }

  std::mutex mutex_;
  std::deque<MessageBoxResult> answers;
  std::vector<std::string> prompts;  // UTF-8
  std::vector<WindowId> owners;
  std::u16string clipboard;
  std::vector<std::string> urls, shown, opened;
  std::string nextFile;
};

QAction* MenuAction(QMenu* menu, const char* text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == Ui(text)) return action;
  }
  return nullptr;
}

QString Cell(QTreeView* list, int row, int column) {
  return list->model()->index(row, column).data().toString();
}

class BlockedWindowTest : public ::testing::Test {
 protected:
  BlockedWindowTest() {
    app.origins.netdisk = "https://pan.example.test";
    app.taskStartedAt.set("12-01 10:00:00");
    app.currentUserName.set(L8("网盘*用户"));
    window.show();
    view = window.blockedWindow();
    list = view ? view->findChild<QTreeView*>(Ui("超级列表框2")) : nullptr;
  }
  ~BlockedWindowTest() override { window.controller().waitForWorkers(); }

  MainWindow& controller() { return window.controller(); }
  QPushButton* button(const char* name) { return view->findChild<QPushButton*>(Ui(name)); }
  // A right-click as the user makes it, through the window system: Qt selects the
  // row under it and asks the list for its menu. Returns the menu that popped up.
  QMenu* rightClick(QPoint inViewport) {
    QTest::mouseClick(view->windowHandle(), Qt::RightButton, Qt::NoModifier,
                      list->viewport()->mapTo(view, inViewport));
    return shownMenu();
  }
  // The keyboard's menu key on the focused list. The window system turns the key into
  // a keyboard request for the menu; the offscreen platform has no keyboard of its
  // own, so the test sends that request as the window system does.
  QMenu* menuKey() {
    list->setFocus();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), list->mapToGlobal(QPoint()));
    QApplication::sendEvent(list, &event);
    return shownMenu();
  }
  QMenu* shownMenu() {
    PumpUntil([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; });
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
  }
  // Selects a row as the user does: a right-click on it; the menu is closed again.
  void rightClickRow(int row) {
    QMenu* menu = rightClick(list->visualRect(list->model()->index(row, 0)).center());
    ASSERT_NE(menu, nullptr);
    menu->hide();
  }
  void choose(const char* item) {
    QAction* action = MenuAction(view->menu(), item);
    ASSERT_NE(action, nullptr) << item;
    action->trigger();
  }
  void record(const std::string& fsid, const std::string& path) {
    // From a worker thread, as the checker does.
    std::thread([&] { controller().recordBlockedFile(app.operatingAccount(), fsid, path); }).join();
  }

  testing::TempDir dir;
  ScriptedQtPlatform platform;
  AppState app{platform, dir.path()};
  MainWindowView window{app};
  BlockedWindowView* view = nullptr;
  QTreeView* list = nullptr;
};

TEST_F(BlockedWindowTest, HiddenAtStartShownByTheMainWindowButtonAndOnlyHiddenByClose) {
  ASSERT_TRUE(view && list);
  EXPECT_FALSE(view->isVisible());
  EXPECT_EQ(view->windowTitle(), Ui("已和谐文件列表（软件本次启动后检测到的已和谐历史记录）"));
  QStringList headers;
  for (int c = 0; c < list->model()->columnCount(); ++c)
    headers << list->model()->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(headers.join(u'|'),
            Ui("序号|检测时间|文件名|fsid|文件位置|path|所在网盘|删除状态|移动状态"));
  EXPECT_EQ(list->header()->sectionSize(2), 150);

  record("11", "/a/b/c.txt");
  auto* show = window.findChild<QPushButton*>(Ui("按钮7"));
  ASSERT_NE(show, nullptr);
  show->click();
  ASSERT_TRUE(PumpUntil([&] { return view->isVisible() && list->model()->rowCount() == 1; }));
  EXPECT_EQ(Cell(list, 0, kBlockedName), Ui("c.txt"));
  EXPECT_EQ(Cell(list, 0, kBlockedLocation), Ui("/a/b"));
  EXPECT_EQ(Cell(list, 0, kBlockedDeleteStatus), Ui("待处理"));

  view->close();
  EXPECT_FALSE(view->isVisible());
  EXPECT_FALSE(controller().blockedForm().visible());
  record("12", "/d.txt");
  show->click();
  ASSERT_TRUE(PumpUntil([&] { return view->isVisible() && list->model()->rowCount() == 2; }));
  EXPECT_EQ(Cell(list, 0, kBlockedName), Ui("c.txt"));
  EXPECT_EQ(Cell(list, 1, kBlockedLocation), Ui("/"));
}

TEST_F(BlockedWindowTest, TheMenuCopiesOpensAndRemoves) {
  controller().onBlockedFilesClicked();
  record("1", "/\\u6587/\\ud83d\\ude00 a.txt");
  record("2", "/x/b.txt");
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 2; }));
  QMenu* menu = view->menu();
  EXPECT_EQ(menu->objectName(), Ui("已和谐文件列表菜单"));
  QStringList items;
  for (QAction* action : menu->actions())
    items << (action->isSeparator()
                  ? QStringLiteral("-")
                  : action->text() + (action->isEnabled() ? QString() : QStringLiteral("(grey)")));
  EXPECT_EQ(items.join(u'|'),
            Ui("从网盘删除此文件_同步|从网盘删除此文件_异步(grey)|从网盘删除此文件_自动(grey)|-|"
               "在浏览器打开文件所在目录|从列表中删除此项目|-|复制文件名|复制文件位置|复制path|"
               "复制解码后的path|复制删除状态|复制移动状态|-|导入表格数据|导出表格数据"));

  rightClickRow(0);
  EXPECT_EQ(controller().blocked().selected(), controller().blocked().ids()[0]);
  struct Copy {
    const char* item;
    std::u16string text;
  };
  const Copy copies[] = {
      {"复制文件名", u"\U0001F600 a.txt"},
      {"复制文件位置", u"/文"},
      {"复制path", u"/\\u6587/\\ud83d\\ude00 a.txt"},
      {"复制解码后的path", u"/文/\U0001F600 a.txt"},
      {"复制删除状态", u"待处理"},
  };
  for (const Copy& c : copies) {
    SCOPED_TRACE(c.item);
    choose(c.item);
    EXPECT_EQ(platform.get(platform.clipboard), c.text);
  }
  choose("复制移动状态");  // empty: the clipboard keeps what it had
  EXPECT_EQ(platform.get(platform.clipboard), u"待处理");

  choose("在浏览器打开文件所在目录");
  EXPECT_EQ(platform.get(platform.urls),
            std::vector<std::string>{
                "https://pan.example.test/disk/main#/index?category=all&path=%2F%E6%96%87"});

  platform.answers = {kIdNo};
  choose("从列表中删除此项目");
  EXPECT_EQ(list->model()->rowCount(), 2);
  platform.answers = {kIdYes};
  choose("从列表中删除此项目");
  EXPECT_EQ(list->model()->rowCount(), 1);
  EXPECT_EQ(Cell(list, 0, kBlockedFsid), Ui("2"));
  EXPECT_EQ(platform.get(platform.prompts).back(), "确定从列表中删除选中的项目？");
}

TEST_F(BlockedWindowTest, ButtonsClearAndExportAndTheMenuExportsAndImports) {
  controller().onBlockedFilesClicked();
  record("1", "/a/deleted.txt");
  record("2", "/a/moved.txt");
  record("3", "/a/caf\\u00e9.txt");
  BlockedList& model = controller().blocked();
  std::vector<BlockedRowId> ids = model.ids();
  ASSERT_EQ(ids.size(), 3u);
  model.setCell(ids[0], kBlockedDeleteStatus, L8("删除成功"));
  model.setCell(ids[1], kBlockedMoveStatus, L8("移动成功"));
  ASSERT_TRUE(PumpUntil([&] { return Cell(list, 1, kBlockedMoveStatus) == Ui("移动成功"); }));

  // 按钮2 and 按钮3 write, show and open their files.
  for (const char* name : {"按钮2", "按钮3"}) {
    SCOPED_TRACE(name);
    QPushButton* b = button(name);
    ASSERT_NE(b, nullptr);
    size_t before = platform.get(platform.opened).size();
    b->click();
    EXPECT_FALSE(b->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return b->isEnabled(); }));
    std::vector<std::string> opened = platform.get(platform.opened);
    ASSERT_EQ(opened.size(), before + 1);
    EXPECT_EQ(platform.get(platform.shown).back(), opened.back());
    EXPECT_TRUE(std::filesystem::exists(opened.back()));
  }

  // The table export, then the import into the emptied list.
  choose("导出表格数据");
  ASSERT_TRUE(PumpUntil([&] { return platform.get(platform.prompts).size() == 1; }));
  std::string table = platform.get(platform.prompts)[0];
  ASSERT_EQ(table.rfind("导出当前表格数据完成。\r\n\r\n", 0), 0u);
  table = table.substr(std::string("导出当前表格数据完成。\r\n\r\n").size());
  EXPECT_EQ(platform.get(platform.owners)[0], controller().blockedForm().window());
  std::vector<BlockedRow> before = model.rows();

  // 按钮1 removes the deleted row, 按钮5 the moved one.
  button("按钮1")->click();
  ASSERT_TRUE(
      PumpUntil([&] { return button("按钮1")->isEnabled() && list->model()->rowCount() == 2; }));
  button("按钮5")->click();
  ASSERT_TRUE(
      PumpUntil([&] { return button("按钮5")->isEnabled() && list->model()->rowCount() == 1; }));
  EXPECT_EQ(Cell(list, 0, kBlockedName), Ui("café.txt"));

  rightClickRow(0);
  platform.answers = {kIdYes};
  platform.nextFile = table;
  choose("导入表格数据");
  ASSERT_TRUE(PumpUntil([&] { return platform.get(platform.prompts).size() == 3; }));
  EXPECT_EQ(platform.get(platform.prompts)[1], "导入时将清空当前的所有数据重新写入，是否继续？");
  EXPECT_EQ(platform.get(platform.prompts)[2], " 导入完成。");
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 3; }));
  std::vector<BlockedRow> after = model.rows();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) EXPECT_TRUE(after[i].sameCells(before[i])) << i;
  EXPECT_EQ(Cell(list, 2, kBlockedName), Ui("café.txt"));
}

TEST_F(BlockedWindowTest, TheTargetFolderBoxIsTheFormsAndTheLabelsShowTheirTexts) {
  auto* box = view->findChild<QLineEdit*>(Ui("编辑框1"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), Ui("/a-已和谐文件列表"));
  EXPECT_EQ(box->accessibleName(), Ui("位置："));
  box->setText(Ui("目标"));
  EXPECT_EQ(controller().blockedForm().targetFolder(), L8("目标"));
  controller().blockedForm().setTargetFolder(L8("/目标"));
  EXPECT_EQ(box->text(), Ui("/目标"));
  struct Label {
    const char* name;
    const char* text;
  };
  for (const Label& l : {Label{"透明标签4", "更多功能请右键单击列表"}, Label{"透明标签1", "位置："},
                         Label{"透明标签2", "不填将默认，格式：/aaa"}}) {
    auto* label = view->findChild<QLabel*>(Ui(l.name));
    ASSERT_NE(label, nullptr) << l.name;
    EXPECT_EQ(label->text(), Ui(l.text));
  }
  for (const char* name : {"按钮1", "按钮2", "按钮3", "按钮4", "按钮5"}) {
    ASSERT_NE(button(name), nullptr) << name;
    EXPECT_EQ(button(name)->accessibleName(), button(name)->text());
  }
}

TEST_F(BlockedWindowTest, TheMenuDeleteAndTheMoveButtonActWithTheRowsAccount) {
  testing::SimService service;
  ASSERT_TRUE(service.started);
  service.point(app);
  std::string cookies = service.sim.addAccount({.userName = "bob", .bdstoken = "tok-bob"});
  service.sim.addFile("bob", "/x/del.txt", 1, true);
  service.sim.addFile("bob", "/x/mov.txt", 1, true);
  AccountRecord account;
  account.userName = "bob";
  account.cookies = cookies;
  account.bdstoken = "tok-bob";
  controller().accounts().appendAccountRow(account);
  app.currentUserName.set("bob");
  controller().onBlockedFilesClicked();
  record("1", "/x/del.txt");
  record("2", "/x/mov.txt");
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 2; }));

  rightClickRow(0);
  choose("从网盘删除此文件_同步");
  ASSERT_TRUE(PumpUntil([&] { return Cell(list, 0, kBlockedDeleteStatus) == Ui("删除成功"); }));
  EXPECT_FALSE(service.sim.find("bob", "/x/del.txt"));

  auto* box = view->findChild<QLineEdit*>(Ui("编辑框1"));
  box->clear();
  QPushButton* move = button("按钮4");
  move->click();
  EXPECT_FALSE(move->isEnabled());
  ASSERT_TRUE(PumpUntil([&] { return move->isEnabled(); }));
  EXPECT_EQ(box->text(), Ui("/a-已和谐文件列表"));
  EXPECT_EQ(Cell(list, 1, kBlockedMoveStatus), Ui("移动成功"));
  EXPECT_TRUE(service.sim.find("bob", "/a-已和谐文件列表/mov.txt"));
  EXPECT_EQ(platform.get(platform.prompts).back(), "移动完成！");
  EXPECT_EQ(platform.get(platform.owners).back(), controller().blockedForm().window());
  controller().waitForWorkers();
}

// The enabled items of a menu, as "a|b|c".
QString EnabledItems(QMenu* menu) {
  QStringList items;
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator() && action->isEnabled()) items << action->text();
  }
  return items.join(u'|');
}

// After a restart the list is empty: its menu still opens, by a right-click on the
// empty area or by the menu key, and 导入表格数据 brings an exported table back.
TEST_F(BlockedWindowTest, TheMenuOpensOnAnEmptyListAndImportsATable) {
  const std::u16string names[] = {u"a&amp;b.txt", u"amp;\"quoted\".txt", u"back\\slash.txt",
                                  u"\\u0031 literal.txt", u"divide;\U0001F600.mkv"};
  std::vector<BlockedRow> exported;
  for (const std::u16string& name : names) {
    BlockedRow row;
    row.ordinal = std::to_string(exported.size() + 1);
    row.detectedAt = "12-10 17:35:48";
    row.name = name;
    row.fsid = std::to_string(700 + exported.size());
    row.location = u"/资料";
    row.netdiskPath = u"/资料/" + name;
    row.path = UnicodeToLocal(row.netdiskPath);
    row.account = L8("网盘*用户");
    row.deleteStatus = L8("待处理");
    exported.push_back(row);
  }
  const std::string table = dir.file("导出表格数据_20261210173548.txt");
  ASSERT_TRUE(WriteTableFile(table, exported));

  controller().onBlockedFilesClicked();
  ASSERT_TRUE(PumpUntil([&] { return view->isVisible(); }));
  ASSERT_EQ(list->model()->rowCount(), 0);
  const QString listWide = Ui("导入表格数据|导出表格数据");

  // A right-click on the empty list: only what acts on the whole list can be chosen.
  QMenu* menu = rightClick(list->viewport()->rect().center());
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu, view->menu());
  EXPECT_EQ(EnabledItems(menu), listWide);
  {
    std::lock_guard lock(platform.mutex_);
    platform.nextFile = table;
  }
  QAction* import = MenuAction(menu, "导入表格数据");
  ASSERT_NE(import, nullptr);
  import->trigger();
  menu->hide();
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 5; }));
  ASSERT_TRUE(PumpUntil([&] { return !platform.get(platform.prompts).empty(); }));
  // An empty list is replaced without asking.
  EXPECT_EQ(platform.get(platform.prompts), std::vector<std::string>{" 导入完成。"});
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Cell(list, i, kBlockedName), QString::fromStdU16String(names[i]));
    EXPECT_EQ(Cell(list, i, kBlockedFsid), QString::number(700 + i));
  }
  std::vector<BlockedRowId> ids = controller().blocked().ids();
  ASSERT_EQ(ids.size(), 5u);

  // The menu key without a selection: the same.
  ASSERT_EQ(controller().blocked().selected(), kNoBlockedRow);
  menu = menuKey();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(EnabledItems(menu), listWide);
  menu->hide();

  // The menu key with a row selected acts on that row.
  list->setCurrentIndex(list->model()->index(3, 0));
  ASSERT_EQ(controller().blocked().selected(), ids[3]);
  menu = menuKey();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(EnabledItems(menu),
            Ui("从网盘删除此文件_同步|在浏览器打开文件所在目录|从列表中删除此项目|复制文件名|"
               "复制文件位置|复制path|复制解码后的path|复制删除状态|复制移动状态|导入表格数据|"
               "导出表格数据"));
  choose("复制文件名");
  menu->hide();
  EXPECT_EQ(platform.get(platform.clipboard), names[3]);

  // A right-click below the rows selects none, and the row items do nothing then.
  menu = rightClick(QPoint(10, list->viewport()->height() - 5));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(controller().blocked().selected(), kNoBlockedRow);
  EXPECT_FALSE(list->currentIndex().isValid());
  EXPECT_EQ(EnabledItems(menu), listWide);
  menu->hide();
  for (int i = 0; i < kBlockedMenuItemCount; ++i) {
    auto item = static_cast<BlockedMenuItem>(i);
    if (BlockedMenuItemActsOnRow(item)) controller().onBlockedMenu(item);
  }
  controller().waitForWorkers();
  EXPECT_EQ(controller().blocked().size(), 5u);
  EXPECT_EQ(platform.get(platform.prompts).size(), 1u);
  EXPECT_TRUE(platform.get(platform.urls).empty());
  EXPECT_EQ(platform.get(platform.clipboard), names[3]);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Cell(list, i, kBlockedDeleteStatus), Ui("待处理"));
}

// 按钮1 on thousands of rows, every other one deleted and a long run at the end: the
// list shows exactly the rows left, in their order, keeps the selected row and
// keeps the rows in sight where they were.
TEST_F(BlockedWindowTest, AClearOfManyRowsShowsTheRowsLeftInOrder) {
  constexpr int kRows = 6000;
  auto deleted = [](int i) { return i % 2 == 1 || i >= 5000; };
  controller().onBlockedFilesClicked();
  BlockedList& model = controller().blocked();
  std::thread([&] {
    for (int i = 0; i < kRows; ++i) {
      BlockedRow row;
      row.fsid = std::to_string(i);
      row.name = u"f" + LocalToUnicode(std::to_string(i));
      row.deleteStatus = L8(deleted(i) ? "删除成功" : "待处理");
      model.append(row);
    }
  }).join();
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == kRows; }));
  std::vector<BlockedRowId> ids = model.ids();
  list->setCurrentIndex(list->model()->index(3000, 0));
  list->scrollTo(list->model()->index(2001, 0), QAbstractItemView::PositionAtTop);
  ASSERT_EQ(list->indexAt(QPoint(0, 0)).row(), 2001);

  button("按钮1")->click();
  ASSERT_TRUE(PumpUntil([&] { return button("按钮1")->isEnabled(); }));
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 2500; }));
  for (int row = 0; row < 2500; ++row) {
    if (Cell(list, row, kBlockedFsid) != QString::number(row * 2)) {
      ADD_FAILURE() << "row " << row << " shows fsid "
                    << Cell(list, row, kBlockedFsid).toStdString();
      break;
    }
  }
  EXPECT_EQ(model.selected(), ids[3000]);
  EXPECT_EQ(list->currentIndex().row(), 1500);
  // 2001 went; 2002 is the first row left below where the top was.
  EXPECT_EQ(Cell(list, list->indexAt(QPoint(0, 0)).row(), kBlockedFsid), QStringLiteral("2002"));

  // A clear that takes the selected row leaves none selected.
  model.setCell(ids[3000], kBlockedDeleteStatus, L8("删除成功"));
  button("按钮1")->click();
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 2499; }));
  EXPECT_EQ(model.selected(), kNoBlockedRow);
  EXPECT_FALSE(list->currentIndex().isValid());
  EXPECT_EQ(Cell(list, 1500, kBlockedFsid), QStringLiteral("3002"));
}

// A worker whose work throws (here the window's mirror out of memory, then a
// runtime error) ends alone: the program goes on, the log and the status bar say
// which button's work failed, the button is free again and its next click works.
TEST_F(BlockedWindowTest, AButtonWhoseWorkThrowsIsFreedAndReported) {
  struct Case {
    const char* what;
    std::function<void()> failure;
    const char* shown;
  };
  const Case cases[] = {
      {"out of memory", [] { throw std::bad_alloc(); },
       "后台任务“清除已删除成功列表”出错，已中止：std::bad_alloc"},
      {"a runtime error", [] { throw std::runtime_error("mirror \"broke\""); },
       "后台任务“清除已删除成功列表”出错，已中止：mirror \"broke\""},
  };
  controller().onBlockedFilesClicked();
  BlockedList& model = controller().blocked();
  auto* statusPane = window.findChild<QLabel*>(QStringLiteral("statusMessagePane"));
  ASSERT_NE(statusPane, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    record("1", "/a/gone.txt");
    model.setCell(model.ids().back(), kBlockedDeleteStatus, L8("删除成功"));
    std::atomic<bool> armed{true};
    Subscription failing = model.subscribe([&](const BlockedChanged& change) {
      if (change.kind == BlockedChanged::Kind::kRemovedRows && armed.exchange(false)) c.failure();
    });
    button("按钮1")->click();
    ASSERT_TRUE(PumpUntil([&] { return button("按钮1")->isEnabled(); }));
    controller().waitForWorkers();
    EXPECT_EQ(LocalToUtf8(app.status.text()), c.shown);
    ASSERT_TRUE(PumpUntil([&] { return statusPane->text() == QString::fromUtf8(c.shown); }));
    EXPECT_NE(LocalToUtf8(app.log.text()).find(c.shown), std::string::npos);

    // The next click runs, and the list shows what the model holds.
    record("2", "/a/next.txt");
    model.setCell(model.ids().back(), kBlockedDeleteStatus, L8("删除成功"));
    button("按钮1")->click();
    ASSERT_TRUE(PumpUntil([&] { return button("按钮1")->isEnabled(); }));
    controller().waitForWorkers();
    EXPECT_EQ(model.size(), 0u);
    ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 0; }));
  }
}

TEST_F(BlockedWindowTest, Screenshot) {
  controller().onBlockedFilesClicked();
  app.taskStartedAt.set("12-10 17:35:48");
  record("801", L8("/电影 2023/\\u7247\\u540d.mkv"));
  record("802", L8("/资料/caf\\u00e9.mp4"));
  record("803", L8("/\\ud83d\\ude00 笑脸.txt"));
  BlockedList& model = controller().blocked();
  std::vector<BlockedRowId> ids = model.ids();
  model.setCell(ids[0], kBlockedDeleteStatus, L8("删除成功"));
  model.setCell(ids[1], kBlockedMoveStatus, L8("移动成功"));
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 3 && view->isVisible(); }));
  QApplication::processEvents();
  if (const char* folder = std::getenv("PANSIFT_SCREENSHOT_DIR")) {
    EXPECT_TRUE(
        view->grab().save(QString::fromUtf8(folder) + QStringLiteral("/blocked-window.png")));
  }
}

}  // namespace
}  // namespace pansift
