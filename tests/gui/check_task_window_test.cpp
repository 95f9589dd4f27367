// The program's main job through the window, against the simulator: refresh the tree,
// select a folder, set the depth, press 开始检查; the task catalogues and checks every
// file, the log and status bar show a finished task, and the blocked-file window lists
// exactly the blocked files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <deque>
#include <filesystem>
#include <mutex>

#include "accounts/account_store.h"
#include "app/main_window.h"
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
  std::mutex mutex;
  std::vector<std::string> prompts;  // UTF-8
};

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& text) {
  for (int i = 0; i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == text) return parent->child(i);
  }
  return nullptr;
}

TEST(CheckTaskWindow, AFolderIsScannedAndCheckedAndItsBlockedFilesListed) {
  testing::SimService service;
  ASSERT_TRUE(service.started);
  const char* user = "检查*用户";
  std::string cookies = service.sim.addAccount({.userName = user});
  service.sim.addFile(user, "/电影/a.mp4", 10);
  service.sim.addFile(user, "/电影/坏.mkv", 10, true);
  service.sim.addFile(user, "/电影/sub/c.txt", 3);
  service.sim.addFile(user, "/电影/sub/deep/blocked.avi", 3, true);
  service.sim.addFile(user, "/other/x.txt", 1);

  // The catalogue lives in the current folder.
  testing::TempDir dir;
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());

  PromptRecordingPlatform platform;
  AppState app(platform, dir.path());
  service.point(app);
  MainWindowView window(app);
  window.show();
  AccountRecord row;
  row.userName = L8("检查_用户");
  row.cookies = cookies;
  window.controller().accounts().appendAccountRow(row);

  auto* refresh = window.findChild<QPushButton*>(Ui("按钮1"));
  auto* tree = window.findChild<QTreeWidget*>(Ui("树型框1"));
  auto* start = window.findChild<QPushButton*>(Ui("按钮_开始检查"));
  auto* depth = window.findChild<QLineEdit*>(Ui("编辑框_检查深度"));
  auto* log = window.findChild<QPlainTextEdit*>(Ui("编辑框_日志"));
  ASSERT_TRUE(refresh && tree && start && depth && log);
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
  ASSERT_TRUE(PumpUntil(
      [&] { return start->isEnabled() && log->toPlainText().contains(Ui("已检测完成")); }, 60000))
      << log->toPlainText().toStdString();
  QString text = log->toPlainText();
  EXPECT_TRUE(
      text.contains(Ui("已检测完成，总检测文件数量： 6 ，其中被和谐文件(禁止下载的文件)数量： 2")))
      << text.toStdString();
  EXPECT_FALSE(text.contains(Ui("未能检测的文件数量"))) << text.toStdString();
  EXPECT_TRUE(text.contains(Ui("文件已被和谐：/电影/坏.mkv"))) << text.toStdString();
  EXPECT_TRUE(text.contains(Ui("文件已被和谐：/电影/sub/deep/blocked.avi"))) << text.toStdString();
  EXPECT_EQ(app.status.text(), L8("检查任务完成。"));
  EXPECT_EQ(service.sim.log().rejected(), 0u);

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

  window.controller().waitForWorkers();
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace pansift
