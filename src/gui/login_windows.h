// Logging in through the embedded browser (Qt WebEngine): the chooser
// "网盘登陆方式选择" and the two login windows. The windows host the view and keep
// the cookies its profile reports; what happens on their buttons and on closing is
// decided by the event table and accounts/login_flow.
#pragma once

#include <QDialog>
#include <QWebEnginePage>
#include <array>

#include "accounts/login_flow.h"

class QLabel;
class QPushButton;
class QWebEngineProfile;
class QWebEngineView;

namespace pansift {

class MainWindow;

/// A page that loads every new-window request in itself, and accepts a certificate
/// its browser rejects only when the extra CA file the user configured vouches for it.
class LoginPage : public QWebEnginePage {
  Q_OBJECT

 public:
  LoginPage(QWebEngineProfile* profile, QObject* parent);

 protected:
  QWebEnginePage* createWindow(WebWindowType type) override;
};

/// Prepares way 1's browser: when the WebEngine helper process exists, empties the
/// profile area in the cache folder `cacheDir` and returns the new profile folder;
/// "" when the browser cannot start.
std::string PrepareWay1Browser(const std::string& cacheDir);

/// "百度帐号登陆_方式1" (its profile in `profileDir`, from PrepareWay1Browser, which
/// the window deletes when it goes: its cookies have been handed over by then) or
/// "百度帐号登陆_方式2" (a private profile; `profileDir` is not used).
class LoginWindow : public QDialog {
  Q_OBJECT

 public:
  LoginWindow(MainWindow& controller, LoginWay way, const std::string& profileDir = {},
              QWidget* parent = nullptr);
  ~LoginWindow() override;

  LoginWay way() const { return way_; }
  QWebEngineView* view() const { return view_; }
  QWebEngineProfile* profile() const { return profile_; }
  /// The cookie string the window would hand over if it closed now (local text).
  std::string capturedCookies() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  /// Escape would close the dialog without the close question.
  void reject() override;

 private:
  void pressButton(int button);

  MainWindow& controller_;
  const LoginWay way_;
  const LoginPages pages_;
  LoginCookies cookies_;
  std::string profileDir_;  // way 1 only
  QWebEngineProfile* profile_ = nullptr;
  QWidget* viewHost_ = nullptr;  // 画板2 (way 1) or the view itself (way 2)
  QWebEngineView* view_ = nullptr;
  std::array<QPushButton*, 3> buttons_{};
  bool started_ = false;
  bool closing_ = false;
};

/// The chooser "网盘登陆方式选择", shown modally over the main window.
class LoginChooser : public QDialog {
  Q_OBJECT

 public:
  explicit LoginChooser(MainWindow& controller, QWidget* parent = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void openWay1();
  void openWay2();

  MainWindow& controller_;
  QPushButton* way1_ = nullptr;
  QPushButton* way2_ = nullptr;
  QLabel* browserHelp_ = nullptr;
};

}  // namespace pansift
