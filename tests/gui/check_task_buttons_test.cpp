// 开始检查, 停止检查 and 暂停/继续 clicked in the orders a user can click them, against
// the simulator: no order wedges the task, 开始检查 says whether a task runs, a stop
// hands out no more id ranges, and a range checks the batch size it was handed out
// with. Every wait goes through a HookClock; a wait on the UI thread also runs the
// window's pending events, as the event loop of the real platform does, so a click
// "during the stop's wait" is made from the clock's hook at that wait. The
// simulator holds a task's requests to keep it where a test needs it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "blocked/blocked_list.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "gui/main_window_view.h"
#include "gui/qt_text.h"
#include "pipeline/catalogue_db.h"
#include "pipeline/task_rig.h"
#include "support/clocks.h"
#include "support/pump.h"
#include "support/sim_app.h"
#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

using namespace std::chrono_literals;
using testing::PumpUntil;

constexpr const char* kStart = "按钮_开始检查";
constexpr const char* kStop = "按钮_停止检查";
constexpr const char* kPause = "按钮_暂停检查";
// The wait of a stop before it enables 开始检查 again.
constexpr std::chrono::milliseconds kStopWait = 3000ms;

// Prompts are answered by script; waits sleep on the test's clock and, on the UI
// thread, then deliver the events that arrived meanwhile (clicks, model changes).
class PumpingPlatform final : public HeadlessPlatform {
 public:
  using HeadlessPlatform::HeadlessPlatform;
  void processEvents() override {
    if (isUiThread()) QCoreApplication::processEvents();
  }
  void waitPumping(std::chrono::milliseconds duration) override {
    HeadlessPlatform::waitPumping(duration);
    processEvents();
  }
};

// The main window over the simulator with the folder /c selected; its files f01..
// get the catalogue ids 1.. in that order. The catalogue is made in a folder of its own.
class CheckTaskButtons : public ::testing::Test,
                         protected testing::BasicSimApp<testing::HookClock, PumpingPlatform> {
 protected:
  CheckTaskButtons() {
    std::filesystem::current_path(dir.path());
    cookies = service.sim.addAccount({.userName = testing::kUser});
    app.currentCookies.set(cookies);
    form.setText(FormText::kDepth, "0");
    form.setText(FormText::kCheckThreads, "1");
    FolderTree& tree = controller.tree();
    const NodeId root = tree.addNode(kNoNode, u"测试*用户的网盘", 6, kNodeAccountRoot);
    tree.select(tree.addNode(root, u"c", 0, kNodeFolder));
    clock.setHook([this](std::chrono::milliseconds duration) {
      if (duration != kStopWait || !platform.isUiThread()) return;
      if (auto act = std::exchange(duringStopWait, nullptr)) act();
    });
  }
  ~CheckTaskButtons() override {
    clock.setHook({});
    release();
    // The window and its task end with the fixture's members.
    std::filesystem::current_path(cwd);
  }

  void addFiles(int count, const std::set<int>& blocked = {}) {
    for (int i = 1; i <= count; ++i)
      service.sim.addFile(testing::kUser, path(i), 1, blocked.count(i));
  }
  static std::string path(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "/c/f%02d", i);
    return name;
  }
  std::string fsId(int i) {
    return std::to_string(service.sim.find(testing::kUser, path(i))->fsId);
  }

  QPushButton* button(const char* name) const { return window.findChild<QPushButton*>(Ui(name)); }
  // A click as the user makes it, on the button as the window shows it now.
  void click(const char* name) {
    QCoreApplication::processEvents();
    button(name)->click();
  }
  void stop() {
    platform.answerNext(kIdYes);
    click(kStop);
  }
  std::string caption(const char* name) {
    QCoreApplication::processEvents();
    return button(name)->text().toStdString();
  }
  bool startEnabled() {
    QCoreApplication::processEvents();
    return form.enabled(FormButton::kStartCheck) && button(kStart)->isEnabled();
  }

  void hold(const char* endpoint) { service.sim.faults().holdRequestsOf(cookies, endpoint); }
  void release() { service.sim.faults().releaseHeld(); }
  bool requestHeld() {
    return PumpUntil([&] { return service.sim.faults().heldRequests() > 0; });
  }
  bool taskEnded() {
    CheckTask& task = controller.checkTask();
    return PumpUntil([&] { return !task.active() && task.waitFor(0ms); });
  }

  // The log lines (UTF-8) holding `text`.
  size_t logLines(const std::string& text) const {
    size_t lines = 0;
    for (const std::string& line : SplitText(LocalToUtf8(app.log.text()), "\r\n"))
      lines += line.find(text) != std::string::npos;
    return lines;
  }
  size_t prompts(const std::string& text) const {
    size_t asked = 0;
    for (const RecordedPrompt& p : platform.prompts()) asked += LocalToUtf8(p.text) == text;
    return asked;
  }

  std::filesystem::path cwd = std::filesystem::current_path();
  std::string cookies;
  MainForm form;
  AccountStore accounts;
  MainWindow controller{app, form, accounts};
  MainWindowView window{controller};
  // Run by the hook once, on the UI thread, in the middle of the stop's wait.
  std::function<void()> duringStopWait;
};

TEST_F(CheckTaskButtons, PauseDuringTheStopsWaitLeavesTheStopAlone) {
  addFiles(5);
  hold("/api/list");
  click(kStart);
  ASSERT_TRUE(requestHeld());
  duringStopWait = [&] { click(kPause); };
  stop();
  EXPECT_EQ(caption(kPause), "暂停");
  EXPECT_FALSE(app.paused.load());

  // The stopped task ends once its listing returns, and the next start runs.
  release();
  ASSERT_TRUE(taskEnded());
  EXPECT_TRUE(startEnabled());
  click(kStart);
  ASSERT_TRUE(taskEnded());
  EXPECT_EQ(logLines("已检测完成，总检测文件数量： 5 ，其中被和谐文件(禁止下载的文件)数量： 0"),
            1u);
  EXPECT_EQ(prompts("当前有读取任务在运行中。"), 0u);
}

TEST_F(CheckTaskButtons, AStartDuringTheStopsWaitKeepsItsButtonAndCanBeStopped) {
  addFiles(30);
  form.setText(FormText::kFilesPerBatch, "10");
  hold("/api/download");
  click(kStart);
  ASSERT_TRUE(requestHeld());
  // The stopped task ends while the stop waits, and 开始检查 starts the next.
  bool startedAgain = false;
  duringStopWait = [&] {
    release();
    if (!PumpUntil([&] { return !controller.checkTask().active() && startEnabled(); })) return;
    hold("/api/list");
    click(kStart);
    startedAgain = controller.checkTask().active();
  };
  stop();
  ASSERT_TRUE(startedAgain);
  EXPECT_FALSE(startEnabled());

  // Once the first task's closing prompt is out of the way of the scripted answer.
  ASSERT_TRUE(PumpUntil([&] { return prompts("检查任务已完成。") == 1; }));
  ASSERT_TRUE(requestHeld());
  stop();
  EXPECT_EQ(prompts("确定停止检查任务？"), 2u);
  EXPECT_TRUE(app.stopRequested.load());
  release();
  ASSERT_TRUE(taskEnded());
  EXPECT_TRUE(startEnabled());
  // The second task was stopped in its listing: one summary, the first task's.
  EXPECT_EQ(logLines("已检测完成"), 1u);
  EXPECT_EQ(prompts("当前有读取任务在运行中。"), 0u);
}

TEST_F(CheckTaskButtons, APauseStillOnWhenTheTaskEndsEndsWithIt) {
  addFiles(5);
  hold("/api/download");
  click(kStart);
  // The only batch is being asked about; paused now, it still finishes.
  ASSERT_TRUE(requestHeld());
  click(kPause);
  EXPECT_EQ(caption(kPause), "继续");
  release();
  ASSERT_TRUE(taskEnded());
  EXPECT_EQ(caption(kPause), "暂停");
  EXPECT_FALSE(app.paused.load());

  // The next task runs without a click on 继续.
  click(kStart);
  ASSERT_TRUE(taskEnded());
  EXPECT_EQ(logLines("已检测完成，总检测文件数量： 5 ，其中被和谐文件(禁止下载的文件)数量： 0"),
            2u);
}

TEST_F(CheckTaskButtons, AStopHandsOutNoMoreRanges) {
  addFiles(60);
  form.setText(FormText::kFilesPerBatch, "2");
  hold("/api/download");
  click(kStart);
  ASSERT_TRUE(requestHeld());
  stop();
  release();
  ASSERT_TRUE(taskEnded());
  // The batch being asked about finished; none of the 29 ranges after it was handed out.
  EXPECT_EQ(service.sim.log().count("/api/download"), 1u);
  EXPECT_EQ(logLines("已手动停止。"), 1u);
  EXPECT_EQ(logLines("已检测完成，总检测文件数量： 60 ，其中被和谐文件(禁止下载的文件)数量： 0，"
                     "未能检测的文件数量： 58"),
            1u);
}

TEST_F(CheckTaskButtons, ABatchSizeChangedMidPhaseChecksEveryFileOnce) {
  const std::set<int> blocked = {3, 12, 13, 27};
  addFiles(30, blocked);
  form.setText(FormText::kFilesPerBatch, "10");
  hold("/api/download");
  click(kStart);
  // The first range, ids 1 to 10, is being asked about.
  ASSERT_TRUE(requestHeld());
  auto* box = window.findChild<QLineEdit*>(Ui("编辑框_每次检查文件数量"));
  ASSERT_NE(box, nullptr);
  box->setText(QStringLiteral("4"));
  ASSERT_EQ(form.text(FormText::kFilesPerBatch), "4");
  release();
  ASSERT_TRUE(taskEnded());

  // Each range asked about as a whole, and a refused range file by file.
  std::vector<std::string> expected;
  for (auto [first, last] : std::vector<std::pair<int, int>>{
           {1, 10}, {11, 14}, {15, 18}, {19, 22}, {23, 26}, {27, 30}}) {
    std::string all;
    bool refused = false;
    for (int i = first; i <= last; ++i) {
      all += (all.empty() ? "" : ",") + fsId(i);
      refused = refused || blocked.count(i);
    }
    expected.push_back(all);
    for (int i = first; refused && i <= last; ++i) expected.push_back(fsId(i));
  }
  std::vector<std::string> asked;
  for (const auto& entry : service.sim.log().entries("/api/download")) {
    const size_t from = entry.query.find("fidlist=%5B") + 11;
    asked.push_back(
        ReplaceText(entry.query.substr(from, entry.query.find("%5D", from) - from), "%2C", ","));
  }
  EXPECT_EQ(asked, expected);

  std::vector<std::string> marks;
  for (const auto& row : testing::CatalogueRows(dir.file("vintrel.db")))
    marks.push_back(row[kColFolder] + " " + row[kColOther1]);
  std::vector<std::string> expectedMarks;
  for (int i = 1; i <= 30; ++i)
    expectedMarks.push_back(path(i) + (blocked.count(i) ? " 已和谐" : " 正常"));
  EXPECT_EQ(marks, expectedMarks);

  std::multiset<std::string> listed;
  for (const BlockedRow& row : controller.blocked().rows()) listed.insert(row.fsid);
  std::multiset<std::string> blockedIds;
  for (int i : blocked) blockedIds.insert(fsId(i));
  EXPECT_EQ(listed, blockedIds);
}

}  // namespace
}  // namespace pansift
