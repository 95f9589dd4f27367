#include "platform/qt/main_window_view.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>

#include "app/app_state.h"
#include "app/startup.h"
#include "platform/qt/qt_text.h"

namespace pansift {
namespace {

// The window is designed at 96 DPI; Qt scales logical pixels to the screen.
constexpr int kClientWidth = 991;
constexpr int kClientHeight = 635;
constexpr int kStatusBarHeight = 20;

}  // namespace

MainWindowView::MainWindowView(AppState& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(Ui("PanSift") + Ui("  当前版本：") + FromLocal(app.versionText));
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("centralWidget"));
  setCentralWidget(central);
  buildLogGroup(central);
  buildStatusBar();
  resize(kClientWidth, kClientHeight);
  move(50, 50);
}

void MainWindowView::buildLogGroup(QWidget* central) {
  auto* group = new QGroupBox(Ui("清理记录  (如果下面无显示，表示文件都正常)"), central);
  group->setObjectName(Ui("分组框1"));
  group->setGeometry(328, 472, 656, 136);
  logPane_ = new QPlainTextEdit(group);
  logPane_->setObjectName(Ui("编辑框_日志"));
  logPane_->setGeometry(8, 16, 640, 114);
  logPane_->setReadOnly(true);
  logPane_->setAccessibleName(group->title());
  appendLogText(FromLocal(app_.log.text()));
  logSubscription_ = app_.log.subscribe([this](const LogAppended& change) {
    QString text = FromLocal(change.text);
    QMetaObject::invokeMethod(this, [this, text] { appendLogText(text); }, Qt::QueuedConnection);
  });
}

void MainWindowView::buildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(Ui("状态条1"));
  bar->setSizeGripEnabled(false);
  bar->setFixedHeight(kStatusBarHeight + 4);
  auto* fixed = new QLabel(Ui("操作提示："), bar);
  fixed->setObjectName(QStringLiteral("statusFixedPane"));
  fixed->setFixedWidth(60);
  statusText_ = new QLabel(FromLocal(app_.status.text()), bar);
  statusText_->setObjectName(QStringLiteral("statusMessagePane"));
  statusText_->setAccessibleName(fixed->text());
  bar->addWidget(fixed);
  bar->addWidget(statusText_, 1);
  statusSubscription_ = app_.status.subscribe([this](const StatusChanged& change) {
    QString text = FromLocal(change.text);
    QMetaObject::invokeMethod(this, [this, text] { statusText_->setText(text); }, Qt::QueuedConnection);
  });
}

void MainWindowView::appendLogText(const QString& text) {
  if (text.isEmpty()) return;
  QString plain = text;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QTextCursor cursor(logPane_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(plain);
  logPane_->verticalScrollBar()->setValue(logPane_->verticalScrollBar()->maximum());
}

bool MainWindowView::taskRunning() const {
  auto* start = findChild<QPushButton*>(Ui("按钮_开始检查"));
  return start && !start->isEnabled();
}

void MainWindowView::closeEvent(QCloseEvent* event) {
  if (QueryClose(app_, taskRunning())) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace pansift
