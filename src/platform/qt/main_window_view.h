// The main window: widgets laid out as designed, mirroring the core models.
#pragma once

#include <QMainWindow>

#include "util/observable.h"

class QLabel;
class QPlainTextEdit;

namespace pansift {

struct AppState;

class MainWindowView : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindowView(AppState& app, QWidget* parent = nullptr);

  /// Whether a check task runs: the start button exists and is disabled.
  bool taskRunning() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildLogGroup(QWidget* central);
  void buildStatusBar();
  void appendLogText(const QString& text);

  AppState& app_;
  QPlainTextEdit* logPane_ = nullptr;
  QLabel* statusText_ = nullptr;
  Subscription logSubscription_;
  Subscription statusSubscription_;
};

}  // namespace pansift
