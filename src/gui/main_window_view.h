// The main window: widgets laid out as designed, mirroring the core models
// (MainForm, AccountStore, the log pane and status bar) and forwarding every user
// action to the event table (MainWindow).
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "core/main_form.h"
#include "util/observable.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTreeWidget;

namespace pansift {

class BlockedWindowView;
struct AppState;
class AccountStore;
class MainWindow;

class MainWindowView : public QMainWindow {
  Q_OBJECT

 public:
  /// A window with models and event table of its own.
  explicit MainWindowView(AppState& app, QWidget* parent = nullptr);
  /// A window over the given event table and its models.
  explicit MainWindowView(MainWindow& controller, QWidget* parent = nullptr);
  ~MainWindowView() override;

  MainWindow& controller() { return *controller_; }

  /// Whether a check task runs: 按钮_开始检查 is disabled.
  bool taskRunning() const;

  /// The pop-up menus "cookies操作" and "文件目录树菜单".
  QMenu* accountMenu() const { return accountMenu_; }
  QMenu* treeMenu() const { return treeMenu_; }
  /// The blocked-file window (a top-level window of its own, hidden until shown).
  BlockedWindowView* blockedWindow() const { return blockedWindow_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Owned;
  // How a widget follows the window when it is resized beyond its design size:
  // fractions of the extra width and height added to its place and size.
  struct Anchor {
    QPointer<QWidget> widget;
    QRect design;
    double moveX, moveY, growX, growY;
  };

  void build();
  void buildTabs(QWidget* central);
  void buildAccountList(QWidget* page);
  void buildAddCookieTab(QWidget* page);
  void buildCleanTab(QWidget* page);
  void buildBottomLeft(QWidget* central);
  void buildTree(QWidget* central);
  void buildLogGroup(QWidget* central);
  void buildStatusBar();
  /// A button of the form, kept for syncForm.
  QPushButton* makeButton(QWidget* parent, FormButton button);
  void bindForm();
  void appendLogText(const QString& text);
  void showStatus(const QString& text);
  /// The status bar's progress bar: shown while a task runs, rows checked of rows
  /// catalogued; read from the task's counters on a timer.
  void updateProgress();
  void place(QWidget* widget, const QRect& design, double moveX = 0, double moveY = 0,
             double growX = 0, double growY = 0);
  void applyAnchors();

  /// Brings the widgets in line with the models; cheap, run after every change.
  void syncForm();
  void syncAccounts();
  /// Calls `sync` on the GUI thread after each change of `model`: at once when the
  /// change was made there, else queued (several queued changes make one call).
  template <class Model>
  Subscription mirror(Model& model, void (MainWindowView::*sync)());

  std::unique_ptr<Owned> owned_;
  MainWindow* controller_ = nullptr;
  AppState& app_;
  MainForm& form_;
  AccountStore& accounts_;

  QPointer<MainWindowView> self_;
  std::vector<Anchor> anchors_;
  QPlainTextEdit* logPane_ = nullptr;
  QLabel* statusText_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QTreeWidget* accountList_ = nullptr;
  // The widgets that mirror the form, as build() made them.
  QTabWidget* tabs_ = nullptr;
  QPlainTextEdit* cookiesBox_ = nullptr;
  // By FormText; the cookies, a box of several lines, are in cookiesBox_.
  std::array<QLineEdit*, static_cast<size_t>(FormText::kCount)> textBoxes_{};
  std::array<QPushButton*, static_cast<size_t>(FormButton::kCount)> buttons_{};  // by FormButton
  QCheckBox* deleteFilesBox_ = nullptr;
  QCheckBox* halvingSearchBox_ = nullptr;
  QButtonGroup* sortOrders_ = nullptr;  // button ids are SortOrder values
  QLabel* refreshHint_ = nullptr;
  QMenu* accountMenu_ = nullptr;
  QMenu* treeMenu_ = nullptr;
  BlockedWindowView* blockedWindow_ = nullptr;  // owned; a top-level window of its own
  Subscription logSubscription_;
  Subscription statusSubscription_;
  Subscription formSubscription_;
  Subscription accountsSubscription_;
};

}  // namespace pansift
