#include "gui/main_window_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/startup.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/log.h"
#include "gui/qt_platform.h"
#include "gui/qt_text.h"
#include "support/pump.h"
#include "support/temp_dir.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::PumpUntil;

TEST(MainWindowView, ShowsCaptionLogGroupAndStatusNotice) {
  testing::TempDir dir;
  HeadlessPlatform platform;
  AppState app(platform, dir.path());
  MainWindowView window(app);
  window.show();
  StartUp(app);
  EXPECT_EQ(window.windowTitle(), Ui("PanSift  当前版本：11129"));
  auto* group = window.findChild<QGroupBox*>(Ui("分组框1"));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), Ui("清理记录  (如果下面无显示，表示文件都正常)"));
  auto* log = group->findChild<QPlainTextEdit*>(Ui("编辑框_日志"));
  ASSERT_NE(log, nullptr);
  auto* fixed = window.statusBar()->findChild<QLabel*>(QStringLiteral("statusFixedPane"));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->text(), Ui("操作提示："));
  EXPECT_EQ(fixed->accessibleName(), Ui("操作提示："));
  auto* message = window.statusBar()->findChild<QLabel*>(QStringLiteral("statusMessagePane"));
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return message->text() == FromLocal(CurlNotice(false)); }));
  // What a screen reader reads is the message itself, not the caption beside it.
  EXPECT_EQ(message->accessibleName(), FromLocal(CurlNotice(false)));
}

TEST(MainWindowView, WorkersLogAndSetStatusWhileTheWindowStaysLive) {
  testing::TempDir dir;
  HeadlessPlatform platform;
  AppState app(platform, dir.path());
  MainWindowView window(app);
  window.show();
  auto* log = window.findChild<QPlainTextEdit*>(Ui("编辑框_日志"));
  auto* message = window.statusBar()->findChild<QLabel*>(QStringLiteral("statusMessagePane"));
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) AppendLog(app, L8("第") + std::to_string(i) + L8("行"));
    AppendLog(app, L8("文件删除成功。"));
    SetStatus(app, L8("正在检查"));
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return message->text() == Ui("正在检查"); }));
  EXPECT_EQ(message->accessibleName(), Ui("正在检查"));
  QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
  // 51 lines, the empty line after the delete message, and the end of the last line.
  ASSERT_EQ(lines.size(), 53);
  EXPECT_TRUE(lines[0].endsWith(Ui(" 第0行")));
  EXPECT_TRUE(lines[50].endsWith(Ui(" 文件删除成功。")));
  EXPECT_TRUE(lines[51].isEmpty());
}

TEST(MainWindowView, CloseAsksAndClosesOnlyOnOk) {
  testing::TempDir dir;
  HeadlessPlatform platform;
  AppState app(platform, dir.path());
  MainWindowView window(app);
  window.show();
  EXPECT_FALSE(window.close());  // unanswered: times out, stays open
  EXPECT_TRUE(window.isVisible());
  platform.answerNext(kIdOk);
  EXPECT_TRUE(window.close());
  ASSERT_EQ(platform.prompts().size(), 2u);
  EXPECT_EQ(platform.prompts()[0].text, L8("确定关闭软件？"));
}

TEST(QtPlatform, TimedQuestionFromAWorkerTimesOutAsNoWhileTheUiRuns) {
  QtPlatform platform;
  std::atomic<int> answer{0};
  std::atomic<bool> done{false};
  int uiTicks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++uiTicks; });
  ticker.start(5);
  std::thread worker([&] {
    answer = TimedMessageBox(platform, L8("提示"), L8("继续吗？"), 300, kStyleYesNoQuestion);
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(answer.load(), kIdTimeout);
  EXPECT_GT(uiTicks, 5);  // the UI thread kept running its timers meanwhile
}

TEST(QtPlatform, WaitPumpingOnTheUiThreadKeepsEventsFlowing) {
  QtPlatform platform;
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(5);
  WaitPumping(platform, std::chrono::milliseconds(200));
  EXPECT_GT(ticks, 3);
  EXPECT_TRUE(platform.isUiThread());
}

}  // namespace
}  // namespace pansift
