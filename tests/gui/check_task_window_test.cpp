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
#include <algorithm>
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
#include "support/catalogue_rows.h"
#include "support/pump.h"
#include "support/sim_app.h"
#include "support/temp_dir.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::PumpUntil;

// Prompts are recorded and answered at once: with the answer set for their first
// words, else with their time-out answer, so the task's closing prompt does not
// hold the worker for its whole time-out.
class PromptRecordingPlatform : public QtPlatform {
 public:
  MessageBoxResult messageBox(std::string_view, std::string_view text, int, MessageBoxStyle,
                              WindowId) override {
    std::lock_guard lock(mutex);
    prompts.push_back(LocalToUtf8(text));
    for (const auto& [start, answer] : answers) {
      if (prompts.back().starts_with(start)) return answer;
    }
    return kIdTimeout;
  }
  void notifyIfInactive(std::string_view title, std::string_view text) override {
    std::lock_guard lock(mutex);
    notices.push_back(LocalToUtf8(title) + ": " + LocalToUtf8(text));
  }
  void answer(const std::string& start, MessageBoxResult button) {
    std::lock_guard lock(mutex);
    answers[start] = button;
  }
  std::vector<std::string> recorded() {
    std::lock_guard lock(mutex);
    return prompts;
  }
  std::mutex mutex;
  std::vector<std::string> prompts;                 // UTF-8
  std::vector<std::string> notices;                 // UTF-8
  std::map<std::string, MessageBoxResult> answers;  // by the prompt's first words (UTF-8)
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

// The fs_ids of the catalogue's rows (in the current folder) that `where` picks.
std::set<std::string> CatalogueIds(const std::string& where) {
  std::set<std::string> ids;
  for (const auto& row : testing::CatalogueRows("vintrel.db", "select target from list " + where))
    ids.insert(row[0]);
  return ids;
}

// The fs_ids the probes among `requests` asked about.
std::multiset<std::string> ProbedIds(const std::vector<sim::LoggedRequest>& requests) {
  std::multiset<std::string> ids;
  for (const sim::LoggedRequest& request : requests) {
    if (request.endpoint != "/api/download") continue;
    const size_t from = request.query.find("fidlist=%5B") + 11;
    const std::string list = request.query.substr(from, request.query.find("%5D", from) - from);
    for (size_t at = 0; at <= list.size();) {
      const size_t end = std::min(list.find("%2C", at), list.size());
      ids.insert(list.substr(at, end - at));
      at = end + 3;
    }
  }
  return ids;
}

// A check stopped in its check phase, once it has found blocked files, then
// 开始检查 again: Yes goes on where it was, No starts anew.
class ResumeInTheWindow : public CheckTaskWindow {
 protected:
  static constexpr const char* kUser = "续查用户";
  static constexpr const char* kQuestion = "上次对该目录的检查未完成（已检查 ";

  void SetUp() override {
    CheckTaskWindow::SetUp();
    if (HasFatalFailure()) return;
    service.sim.addAccount({.userName = kUser});
    // In id order the two blocked files of the top come first, so the first batch
    // finds them; the third is in the subfolder, checked last.
    service.sim.addFile(kUser, "/大/0坏1.mp4", 1, true);
    service.sim.addFile(kUser, "/大/0坏2.mp4", 1, true);
    for (int i = 10; i < 46; ++i) service.sim.addFile(kUser, "/大/f" + std::to_string(i), 1);
    service.sim.addFile(kUser, "/大/子/坏3.mkv", 1, true);
    service.sim.addFile(kUser, "/大/子/ok.txt", 1);
    addAccountRow(kUser);
    refresh->click();
    ASSERT_TRUE(treeShows(kUser, 1));
    tree->setCurrentItem(ChildNamed(tree->topLevelItem(0), Ui("大")));
    depth->setText(QStringLiteral("0"));
    auto* batch = window.findChild<QLineEdit*>(Ui("编辑框_每次检查文件数量"));
    ASSERT_NE(batch, nullptr);
    batch->setText(QStringLiteral("5"));
    platform.answer("确定停止检查任务？", kIdYes);

    // Stopped with the first two blocked files marked and a probe on its way.
    start->click();
    ASSERT_TRUE(PumpUntil([&] { return CatalogueIds(kBlockedMark).size() == 2; }, 60000));
    service.sim.faults().holdRequestsOf(service.sim.cookies(kUser), "/api/download");
    ASSERT_TRUE(PumpUntil([&] { return service.sim.faults().heldRequests() > 0; }));
    window.findChild<QPushButton*>(Ui("按钮_停止检查"))->click();
    service.sim.faults().releaseHeld();
    ASSERT_TRUE(taskFinished()) << log->toPlainText().toStdString();
    markedAtStop = CatalogueIds("where other_1 is not null");
    rows = testing::CatalogueRows("vintrel.db", "select id from list").size();
    ASSERT_LT(markedAtStop.size(), rows);
    service.sim.log().clear();
  }

  // Presses 开始检查 again, answers the question and waits for the second summary.
  void startAgain(MessageBoxResult answer) {
    platform.answer(kQuestion, answer);
    start->click();
    ASSERT_TRUE(PumpUntil(
        [&] { return start->isEnabled() && log->toPlainText().count(Ui("已检测完成")) == 2; },
        60000))
        << log->toPlainText().toStdString();
  }

  std::string question() const {
    return std::string(kQuestion) + std::to_string(markedAtStop.size()) + " / " +
           std::to_string(rows) + " 个文件），是否继续上次的检查？";
  }
  QString lastSummary() const {
    const QString text = log->toPlainText();
    const qsizetype at = text.lastIndexOf(Ui("已检测完成"));
    return text.mid(at, text.indexOf(QLatin1Char('\n'), at) - at);
  }
  QTreeView* blockedList() const {
    return window.blockedWindow()->findChild<QTreeView*>(Ui("超级列表框2"));
  }

  static constexpr const char* kBlockedMark = "where other_1='已和谐'";
  std::set<std::string> markedAtStop;
  size_t rows = 0;
};

TEST_F(ResumeInTheWindow, YesGoesOnWhereTheCheckWasAndCountsTheWholeTask) {
  // As after a restart of the program, the list starts empty: what the stopped
  // check found comes back from the catalogue.
  window.controller().blocked().clear();
  startAgain(kIdYes);
  const std::vector<std::string> prompts = platform.recorded();
  EXPECT_NE(std::find(prompts.begin(), prompts.end(), question()), prompts.end());
  EXPECT_TRUE(log->toPlainText().contains(Ui("继续上次未完成的检查")));

  // Nothing listed again; no file asked about again that the stopped check had marked.
  EXPECT_EQ(service.sim.log().count("/api/list"), 0u);
  const std::multiset<std::string> probed = ProbedIds(service.sim.log().entries());
  EXPECT_FALSE(probed.empty());
  for (const std::string& id : probed) EXPECT_FALSE(markedAtStop.count(id)) << id;

  // The summary and the blocked-file window hold the whole task.
  EXPECT_EQ(lastSummary(), Ui("已检测完成，总检测文件数量： ") + QString::number(rows) +
                               Ui(" ，其中被和谐文件(禁止下载的文件)数量： 3"));
  EXPECT_EQ(CatalogueIds("where other_1 is null").size(), 0u);
  EXPECT_EQ(CatalogueIds(kBlockedMark).size(), 3u);
  QTreeView* list = blockedList();
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return list->model()->rowCount() == 3; }));
  QStringList names;
  for (int r = 0; r < 3; ++r) names << list->model()->index(r, kBlockedName).data().toString();
  names.sort();
  EXPECT_EQ(names, (QStringList{Ui("0坏1.mp4"), Ui("0坏2.mp4"), Ui("坏3.mkv")}))
      << names.join(QStringLiteral("|")).toStdString();
  EXPECT_EQ(service.sim.log().rejected(), 0u);
}

TEST_F(ResumeInTheWindow, NoStartsAnew) {
  startAgain(kIdNo);
  const std::vector<std::string> prompts = platform.recorded();
  EXPECT_NE(std::find(prompts.begin(), prompts.end(), question()), prompts.end());
  // Everything listed and asked about again, in a catalogue made anew.
  EXPECT_GT(service.sim.log().count("/api/list"), 0u);
  const std::multiset<std::string> probed = ProbedIds(service.sim.log().entries());
  for (const std::string& id : markedAtStop) EXPECT_TRUE(probed.count(id)) << id;
  EXPECT_FALSE(log->toPlainText().contains(Ui("继续上次未完成的检查")));
  EXPECT_EQ(lastSummary(), Ui("已检测完成，总检测文件数量： ") + QString::number(rows) +
                               Ui(" ，其中被和谐文件(禁止下载的文件)数量： 3"));
  EXPECT_EQ(CatalogueIds(kBlockedMark).size(), 3u);
}

}  // namespace
}  // namespace pansift
