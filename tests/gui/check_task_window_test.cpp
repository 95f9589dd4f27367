// The program's main job through the window, against the simulator: refresh the tree,
// select a folder, set the depth, press 开始检查; the task catalogues and checks every
// file, the log and status bar show a finished task, and the blocked-file window lists
// exactly the blocked files. A switch of account while the task runs leaves the task
// with the account it started for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "blocked/blocked_list.h"
#include "core/app_state.h"
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

// Prompts are recorded and answered at once with their time-out answer, so the
// task's closing prompt does not hold the worker for its whole time-out.
class PromptRecordingPlatform : public QtPlatform {
 public:
  MessageBoxResult messageBox(std::string_view, std::string_view text, int, MessageBoxStyle,
                              WindowId) override {
    std::lock_guard lock(mutex);
    prompts.push_back(LocalToUtf8(text));
    return kIdTimeout;
  }
  void notifyIfInactive(std::string_view title, std::string_view text) override {
    std::lock_guard lock(mutex);
    notices.push_back(LocalToUtf8(title) + ": " + LocalToUtf8(text));
  }
  std::mutex mutex;
  std::vector<std::string> prompts;  // UTF-8
  std::vector<std::string> notices;  // UTF-8
};

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& text) {
  for (int i = 0; i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == text) return parent->child(i);
  }
  return nullptr;
}

// The catalogue lives in the current folder: each test runs in a folder of its own.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& path) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~CurrentFolder() { std::filesystem::current_path(before_); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::filesystem::path before_;
};

// The main window over the simulator, with the controls a check goes through.
class CheckTaskWindow : public ::testing::Test {
 protected:
  CheckTaskWindow() {
    service.point(app);
    window.show();
  }
  void SetUp() override {
    ASSERT_TRUE(service.started);
    ASSERT_TRUE(refresh && tree && start && depth && log);
  }
  void TearDown() override { window.controller().waitForWorkers(); }

  /// Adds an account row for the simulator's account `user` (UTF-8).
  void addAccountRow(const char* user) {
    AccountRecord row;
    row.userName = L8(user);
    row.cookies = service.sim.cookies(user);
    row.uk = service.sim.account(user)->uk;
    row.bdstoken = service.sim.account(user)->bdstoken;
    window.controller().accounts().appendAccountRow(row);
  }
  /// Waits until the tree shows `user`'s root with `children` entries below it.
  bool treeShows(const char* user, int children) {
    return PumpUntil([&] {
      return refresh->isEnabled() && tree->topLevelItemCount() == 1 &&
             tree->topLevelItem(0)->text(0) == Ui(user) + Ui("的网盘") &&
             tree->topLevelItem(0)->childCount() == children;
    });
  }
  bool taskFinished() {
    return PumpUntil(
        [&] { return start->isEnabled() && log->toPlainText().contains(Ui("已检测完成")); }, 60000);
  }

  testing::SimService service;
  testing::TempDir dir;
  CurrentFolder inDir{dir.path()};
  PromptRecordingPlatform platform;
  AppState app{platform, dir.path()};
  MainWindowView window{app};
  QPushButton* refresh = window.findChild<QPushButton*>(Ui("按钮1"));
  QTreeWidget* tree = window.findChild<QTreeWidget*>(Ui("树型框1"));
  QPushButton* start = window.findChild<QPushButton*>(Ui("按钮_开始检查"));
  QLineEdit* depth = window.findChild<QLineEdit*>(Ui("编辑框_检查深度"));
  QPlainTextEdit* log = window.findChild<QPlainTextEdit*>(Ui("编辑框_日志"));
};

TEST_F(CheckTaskWindow, AFolderIsScannedAndCheckedAndItsBlockedFilesListed) {
  const char* user = "检查*用户";
  std::string cookies = service.sim.addAccount({.userName = user});
  service.sim.addFile(user, "/电影/a.mp4", 10);
  service.sim.addFile(user, "/电影/坏.mkv", 10, true);
  service.sim.addFile(user, "/电影/sub/c.txt", 3);
  service.sim.addFile(user, "/电影/sub/deep/blocked.avi", 3, true);
  service.sim.addFile(user, "/other/x.txt", 1);

  AccountRecord row;
  row.userName = L8("检查_用户");
  row.cookies = cookies;
  window.controller().accounts().appendAccountRow(row);

  refresh->click();
  ASSERT_TRUE(PumpUntil([&] {
    return refresh->isEnabled() && tree->topLevelItemCount() == 1 &&
           tree->topLevelItem(0)->childCount() == 2;
  }));
  QTreeWidgetItem* folder = ChildNamed(tree->topLevelItem(0), Ui("电影"));
  ASSERT_NE(folder, nullptr);
  tree->setCurrentItem(folder);
  depth->setText(QStringLiteral("0"));

  start->click();
  // The total counts every catalogued entry, the two subfolders included.
  ASSERT_TRUE(taskFinished()) << log->toPlainText().toStdString();
  QString text = log->toPlainText();
  EXPECT_TRUE(
      text.contains(Ui("已检测完成，总检测文件数量： 6 ，其中被和谐文件(禁止下载的文件)数量： 2")))
      << text.toStdString();
  EXPECT_FALSE(text.contains(Ui("未能检测的文件数量"))) << text.toStdString();
  EXPECT_TRUE(text.contains(Ui("文件已被和谐：/电影/坏.mkv"))) << text.toStdString();
  EXPECT_TRUE(text.contains(Ui("文件已被和谐：/电影/sub/deep/blocked.avi"))) << text.toStdString();
  EXPECT_EQ(app.status.text(), L8("检查任务完成。"));
  EXPECT_EQ(service.sim.log().rejected(), 0u);
  {
    // The end is told to a user who looks elsewhere, in the summary's words.
    std::lock_guard lock(platform.mutex);
    EXPECT_EQ(platform.notices,
              std::vector<std::string>{"检查任务完成。: 已检测完成，总检测文件数量： 6 "
                                       "，其中被和谐文件(禁止下载的文件)数量： 2"});
  }

  // The blocked-file window lists each blocked file once.
  BlockedWindowView* blocked = window.blockedWindow();
  ASSERT_NE(blocked, nullptr);
  auto* list = blocked->findChild<QTreeView*>(Ui("超级列表框2"));
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 2; }));
  QStringList names;
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < list->model()->columnCount(); ++c) {
      names << list->model()->index(r, c).data().toString();
    }
  }
  EXPECT_TRUE(names.contains(Ui("坏.mkv"))) << names.join(QStringLiteral("|")).toStdString();
  EXPECT_TRUE(names.contains(Ui("blocked.avi"))) << names.join(QStringLiteral("|")).toStdString();
}

// During a task the status bar shows rows checked of rows catalogued, and names them to
// assistive technology; it goes when the task ends.
TEST_F(CheckTaskWindow, TheStatusBarsProgressBarFollowsTheCheck) {
  const char* user = "检查*用户";
  service.sim.addAccount({.userName = user});
  for (int i = 0; i < 5; ++i) service.sim.addFile(user, "/电影/" + std::to_string(i) + ".mp4", 1);
  addAccountRow(user);
  refresh->click();
  ASSERT_TRUE(PumpUntil([&] {
    return refresh->isEnabled() && tree->topLevelItemCount() == 1 &&
           tree->topLevelItem(0)->childCount() == 1;
  }));
  tree->setCurrentItem(ChildNamed(tree->topLevelItem(0), Ui("电影")));
  depth->setText(QStringLiteral("0"));
  auto* progress = window.findChild<QProgressBar*>(QStringLiteral("checkProgress"));
  ASSERT_NE(progress, nullptr);
  EXPECT_FALSE(progress->isVisible());

  // The check phase's first probe waits: every row is catalogued, none checked.
  service.sim.faults().holdRequestsOf(service.sim.cookies(user), "/api/download");
  start->click();
  ASSERT_TRUE(PumpUntil([&] {
    return service.sim.faults().heldRequests() > 0 && progress->isVisible() &&
           progress->maximum() == 5;
  })) << progress->maximum();
  EXPECT_EQ(progress->value(), 0);
  EXPECT_EQ(progress->accessibleName(), QStringLiteral("0 / 5"));
  service.sim.faults().releaseHeld();
  ASSERT_TRUE(taskFinished()) << log->toPlainText().toStdString();
  EXPECT_TRUE(PumpUntil([&] { return !progress->isVisible(); }));
}

// A number box reads full-width digits as digits: depth "１" is one level, not 0
// (which would walk the whole tree).
TEST_F(CheckTaskWindow, FullWidthDigitsInTheDepthBoxAreDigits) {
  const char* user = "检查*用户";
  service.sim.addAccount({.userName = user});
  service.sim.addFile(user, "/电影/a.mp4", 10);
  service.sim.addFile(user, "/电影/坏.mkv", 10, true);
  service.sim.addFile(user, "/电影/sub/c.txt", 3);
  service.sim.addFile(user, "/电影/sub/deep/blocked.avi", 3, true);
  addAccountRow(user);

  refresh->click();
  ASSERT_TRUE(PumpUntil([&] {
    return refresh->isEnabled() && tree->topLevelItemCount() == 1 &&
           tree->topLevelItem(0)->childCount() == 1;
  }));
  QTreeWidgetItem* folder = ChildNamed(tree->topLevelItem(0), Ui("电影"));
  ASSERT_NE(folder, nullptr);
  tree->setCurrentItem(folder);
  depth->setText(Ui("１"));

  start->click();
  ASSERT_TRUE(taskFinished()) << log->toPlainText().toStdString();
  const QString text = log->toPlainText();
  EXPECT_TRUE(
      text.contains(Ui("已检测完成，总检测文件数量： 3 ，其中被和谐文件(禁止下载的文件)数量： 1")))
      << text.toStdString();
  EXPECT_FALSE(text.contains(Ui("blocked.avi"))) << text.toStdString();
  EXPECT_EQ(service.sim.log().rejected(), 0u);
}

// A check started for one account keeps it when the user switches to another while
// the check runs: the tree follows the new account, but every request of the task
// carries the first account's login, its files are marked by the answers about them,
// and the delete on detection removes the file from the first account only. Both
// accounts hold the same paths, blocked differently.
TEST_F(CheckTaskWindow, SwitchingAccountsDuringACheckLeavesTheCheckWithItsAccount) {
  const char* userA = "甲&amp;用户";
  const char* userB = "乙&quot;用户";
  for (const char* user : {userA, userB}) service.sim.addAccount({.userName = user});
  service.sim.addFile(userA, "/电影/a.mp4", 10);
  service.sim.addFile(userA, "/电影/坏.mkv", 10, true);
  service.sim.addFile(userA, "/电影/sub/c.txt", 3);
  service.sim.addFile(userB, "/电影/a.mp4", 10, true);
  service.sim.addFile(userB, "/电影/坏.mkv", 10);
  service.sim.addFile(userB, "/乙/x.txt", 1);
  addAccountRow(userA);
  addAccountRow(userB);
  auto* accounts = window.findChild<QTreeWidget*>(Ui("超级列表框1"));
  auto* deleteFiles = window.findChild<QCheckBox*>(Ui("选择框_删除文件"));
  ASSERT_TRUE(accounts && deleteFiles);

  Q_EMIT accounts->itemDoubleClicked(accounts->topLevelItem(0), 1);
  ASSERT_TRUE(treeShows(userA, 1));
  tree->setCurrentItem(ChildNamed(tree->topLevelItem(0), Ui("电影")));
  depth->setText(QStringLiteral("0"));
  deleteFiles->click();
  ASSERT_TRUE(deleteFiles->isChecked());

  // The task's first listing waits until the other account operates.
  service.sim.log().clear();
  service.sim.faults().holdRequestsOf(service.sim.cookies(userA), "/api/list");
  start->click();
  ASSERT_TRUE(PumpUntil([&] { return service.sim.faults().heldRequests() == 1; }));
  Q_EMIT accounts->itemDoubleClicked(accounts->topLevelItem(1), 1);
  ASSERT_TRUE(treeShows(userB, 2));
  service.sim.faults().releaseHeld();
  ASSERT_TRUE(taskFinished()) << log->toPlainText().toStdString();

  // The other account's requests are only its tree's: who it is, and the root listing.
  std::map<std::string, std::set<std::string>> accountsByEndpoint;
  for (const sim::LoggedRequest& r : service.sim.log().entries()) {
    const bool rootListing =
        r.endpoint == "/api/list" && r.query.find("&dir=%2F&") != std::string::npos;
    accountsByEndpoint[r.endpoint + (rootListing ? " (root)" : "")].insert(r.account);
  }
  const std::set<std::string> onlyA = {userA};
  const std::set<std::string> onlyB = {userB};
  EXPECT_EQ(accountsByEndpoint,
            (std::map<std::string, std::set<std::string>>{{"/", onlyB},
                                                          {"/mbox/relation/getfollowlist", onlyB},
                                                          {"/api/list (root)", onlyB},
                                                          {"/api/list", onlyA},
                                                          {"/api/gettemplatevariable", onlyA},
                                                          {"/api/download", onlyA},
                                                          {"/api/filemanager", onlyA}}));

  QString text = log->toPlainText();
  EXPECT_TRUE(
      text.contains(Ui("已检测完成，总检测文件数量： 4 ，其中被和谐文件(禁止下载的文件)数量： 1")))
      << text.toStdString();
  EXPECT_FALSE(text.contains(Ui("未能检测的文件数量"))) << text.toStdString();
  EXPECT_TRUE(text.contains(Ui("文件已被和谐：/电影/坏.mkv"))) << text.toStdString();
  EXPECT_FALSE(text.contains(Ui("文件已被和谐：/电影/a.mp4"))) << text.toStdString();
  EXPECT_FALSE(service.sim.find(userA, "/电影/坏.mkv"));
  EXPECT_TRUE(service.sim.find(userB, "/电影/坏.mkv"));
  EXPECT_TRUE(service.sim.find(userB, "/电影/a.mp4"));

  // The row names the task's account and the delete it did.
  auto* list = window.blockedWindow()->findChild<QTreeView*>(Ui("超级列表框2"));
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(PumpUntil([&] {
    return list->model()->rowCount() == 1 &&
           list->model()->index(0, kBlockedDeleteStatus).data().toString() == Ui("删除成功");
  }));
  EXPECT_EQ(list->model()->index(0, kBlockedAccount).data().toString(), Ui(userA));
  EXPECT_EQ(app.currentUserName.get(), L8(userB));
}

}  // namespace
}  // namespace pansift
