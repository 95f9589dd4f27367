#include "gui/login_windows.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QMouseEvent>
#include <QNetworkCookie>
#include <QPushButton>
#include <QSslCertificate>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "core/app_state.h"
#include "gui/qt_text.h"
#include "net/extra_ca.h"

namespace pansift {
namespace {

struct ControlPlace {
  const char* name;
  const char* text;
  QRect rect;
};

// The two windows share their layout; way 2 sits a few pixels lower.
struct LoginWindowLayout {
  const char* title;
  QSize client;
  std::array<QRect, 3> buttons;
  QRect hint;
  QRect view;
};

const LoginWindowLayout& LayoutOf(LoginWay way) {
  static const LoginWindowLayout kWay1{
      "百度帐号登陆_方式1",
      QSize(1222, 643),
      {QRect(19, 4, 88, 20), QRect(133, 5, 88, 20), QRect(259, 5, 88, 20)},
      QRect(463, 7, 734, 16),
      QRect(8, 30, 1200, 580)};
  static const LoginWindowLayout kWay2{
      "百度帐号登陆_方式2",
      QSize(1222, 623),
      {QRect(19, 8, 88, 20), QRect(133, 9, 88, 20), QRect(259, 9, 88, 20)},
      QRect(463, 10, 734, 16),
      QRect(8, 32, 1200, 560)};
  return way == LoginWay::kWay1 ? kWay1 : kWay2;
}

constexpr std::array<const char*, 3> kLoginButtonTexts = {"登陆页面 1", "登陆页面 2", "登陆页面 3"};
constexpr const char* kLoginHint =
    "登陆成功后关闭此窗口即可    如页面打开不完整，关闭此窗口或点左边按钮再打开重试。    "
    "如果一直卡死，则结束软件重开再试。";

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, const QRect& rect) {
  auto* label = new QLabel(Ui(text), parent);
  label->setObjectName(Ui(name));
  label->setAccessibleName(label->text());
  label->setGeometry(rect);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const QRect& rect) {
  auto* button = new QPushButton(Ui(text), parent);
  button->setObjectName(Ui(name));
  button->setAccessibleName(button->text());
  button->setGeometry(rect);
  button->setAutoDefault(false);
  return button;
}

BrowserCookie FromQt(const QNetworkCookie& cookie) {
  return {cookie.name().toStdString(), cookie.value().toStdString(), cookie.domain().toStdString(),
          cookie.path().toStdString(), cookie.isSecure()};
}

// Where Qt WebEngine looks for its helper process: the variable that overrides it,
// else Qt's helper folder, else beside the program.
bool HelperProcessFound() {
  QString overridden = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
  if (!overridden.isEmpty()) return QFileInfo(overridden).isExecutable();
  const QString name = QStringLiteral("/QtWebEngineProcess");
  return QFileInfo(QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + name)
             .isExecutable() ||
         QFileInfo(QCoreApplication::applicationDirPath() + name).isExecutable();
}

}  // namespace

LoginPage::LoginPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
  connect(this, &QWebEnginePage::certificateError, this,
          [](const QWebEngineCertificateError& error) {
            if (!error.isOverridable()) return;
            std::vector<std::string> chain;
            for (const QSslCertificate& certificate : error.certificateChain())
              chain.push_back(certificate.toDer().toStdString());
            // Only the CA file the user named vouches; every other error stays refused.
            if (ChainTrustedByExtraCa(chain, error.url().host().toStdString())) {
              auto accepted = error;
              accepted.acceptCertificate();
            }
          });
}

QWebEnginePage* LoginPage::createWindow(WebWindowType) {
  // A link or script that opens a window loads in the login view itself.
  return this;
}

std::string PrepareWay1Browser(const std::string& cacheDir) {
  if (!HelperProcessFound()) return {};
  return NewLoginProfileDir(cacheDir);
}

LoginWindow::LoginWindow(MainWindow& controller, LoginWay way, const std::string& profileDir,
                         QWidget* parent)
    : QDialog(parent),
      controller_(controller),
      way_(way),
      pages_(LoginPagesFor(controller.app().origins, way)) {
  const LoginWindowLayout& layout = LayoutOf(way);
  setObjectName(Ui(layout.title));
  setWindowTitle(Ui(layout.title));
  setAccessibleName(windowTitle());
  setWindowFlags(Qt::Window | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint);
  resize(layout.client);

  for (int i = 0; i < 3; ++i) {
    std::string name = "按钮" + std::to_string(i + 1);
    buttons_[static_cast<size_t>(i)] =
        MakeButton(this, name.c_str(), kLoginButtonTexts[static_cast<size_t>(i)],
                   layout.buttons[static_cast<size_t>(i)]);
    connect(buttons_[static_cast<size_t>(i)], &QPushButton::clicked, this,
            [this, i] { pressButton(i); });
  }
  MakeLabel(this, "透明标签1", kLoginHint, layout.hint);

  if (way == LoginWay::kWay1) {
    // A profile on disk of its own, in the folder made empty just before.
    profileDir_ = profileDir;
    QString folder = QString::fromStdString(profileDir);
    profile_ = new QWebEngineProfile(QStringLiteral("login-") + QFileInfo(folder).fileName());
    profile_->setPersistentStoragePath(folder);
    profile_->setCachePath(folder + QStringLiteral("/http-cache"));
    profile_->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
  } else {
    profile_ = new QWebEngineProfile();  // off the record: nothing reaches the disk
  }
  QWebEngineCookieStore* store = profile_->cookieStore();
  connect(store, &QWebEngineCookieStore::cookieAdded, this,
          [this](const QNetworkCookie& cookie) { cookies_.added(FromQt(cookie)); });
  connect(store, &QWebEngineCookieStore::cookieRemoved, this,
          [this](const QNetworkCookie& cookie) { cookies_.removed(FromQt(cookie)); });
  // Way 1's folder was emptied before; clearing its store as well keeps a cookie that
  // a closing browser wrote late from reaching this login.
  store->deleteAllCookies();

  view_ = new QWebEngineView();
  view_->setObjectName(QStringLiteral("loginView"));
  view_->setAccessibleName(Ui("登陆页面"));
  view_->setPage(new LoginPage(profile_, view_));
  if (way == LoginWay::kWay1) {
    viewHost_ = new QWidget(this);
    viewHost_->setObjectName(Ui("画板2"));
    viewHost_->setAccessibleName(view_->accessibleName());
    view_->setParent(viewHost_);
  } else {
    view_->setParent(this);
    viewHost_ = view_;
  }
  viewHost_->setGeometry(layout.view);
  if (viewHost_ != view_) view_->setGeometry(viewHost_->rect());
}

LoginWindow::~LoginWindow() {
  // The page goes before its profile, or the browser side of the profile is kept.
  delete viewHost_;  // the view, or 画板2 holding it
  view_ = nullptr;
  viewHost_ = nullptr;
  delete profile_;
  // The cookies were handed over when the window closed; the login itself is not
  // kept on disk.
  RemoveLoginProfileDir(profileDir_);
}

std::string LoginWindow::capturedCookies() const {
  return LoginCookieString(cookies_.forOrigin(controller_.app().origins.netdisk), way_);
}

void LoginWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  view_->load(QUrl(QString::fromStdString(pages_.start)));
}

void LoginWindow::closeEvent(QCloseEvent* event) {
  if (closing_ || controller_.onLoginWindowClosing(way_, capturedCookies())) {
    closing_ = true;
    event->accept();
    QDialog::done(QDialog::Accepted);
  } else {
    event->ignore();
  }
}

void LoginWindow::reject() {
  // Escape asks like the close box does.
  close();
}

void LoginWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // The view takes whatever the window grows beyond its design size.
  const LoginWindowLayout& layout = LayoutOf(way_);
  QSize extra = (size() - layout.client).expandedTo(QSize(0, 0));
  viewHost_->resize(layout.view.size() + extra);
  if (viewHost_ != view_) view_->setGeometry(viewHost_->rect());
}

void LoginWindow::pressButton(int button) {
  LoginButtonView view;
  view.setButtonEnabled = [this](int i, bool enabled) {
    buttons_[static_cast<size_t>(i)]->setEnabled(enabled);
  };
  view.load = [this](const std::string& url) { view_->load(QUrl(QString::fromStdString(url))); };
  PressLoginButton(controller_.app(), way_, button, pages_, view);
}

LoginChooser::LoginChooser(MainWindow& controller, QWidget* parent)
    : QDialog(parent), controller_(controller) {
  setObjectName(Ui("网盘登陆方式选择"));
  setWindowTitle(Ui("网盘登陆方式选择"));
  setAccessibleName(windowTitle());
  setModal(true);
  setFixedSize(338, 299);

  MakeLabel(this, "透明标签_下方任意方式都可实现登陆网盘",
            "下方任意方式都可实现登陆网盘，选择任意方式即可：", QRect(18, 7, 301, 32));
  way1_ = MakeButton(this, "按钮1", "方式1，内置浏览器（Qt WebEngine），使用独立的浏览数据",
                     QRect(16, 47, 304, 32));
  MakeLabel(this, "透明标签1", "↑↑↑每次打开都是全新登陆，登陆后关闭窗口即可",
            QRect(14, 88, 258, 32))
      ->setWordWrap(true);
  browserHelp_ = MakeLabel(this, "透明标签_安装edge", "组件说明", QRect(272, 88, 59, 32));
  browserHelp_->setCursor(Qt::PointingHandCursor);
  browserHelp_->installEventFilter(this);
  way2_ = MakeButton(this, "按钮2", "方式2，适用于所有系统，但可能因兼容问题偶尔报错",
                     QRect(14, 129, 304, 32));
  MakeLabel(this, "透明标签2", "↑↑↑如果出错请重试，登陆成功后关闭登陆窗口即可",
            QRect(14, 165, 301, 32))
      ->setWordWrap(true);
  QPushButton* help = MakeButton(this, "按钮3", "方式3，教程：手动从其他浏览器获取cookies进行添加",
                                 QRect(14, 213, 304, 32));

  connect(way1_, &QPushButton::clicked, this, [this] { openWay1(); });
  connect(way2_, &QPushButton::clicked, this, [this] { openWay2(); });
  connect(help, &QPushButton::clicked, this, [this] { controller_.onLoginHelpClicked(false); });
}

bool LoginChooser::eventFilter(QObject* watched, QEvent* event) {
  if (watched == browserHelp_ && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    controller_.onLoginHelpClicked(true);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void LoginChooser::openWay1() {
  way1_->setEnabled(false);
  std::string profileDir = PrepareWay1Browser(controller_.app().dirs.cache);
  if (!controller_.onLoginWay1Chosen(!profileDir.empty())) {
    RemoveLoginProfileDir(profileDir);
    way1_->setEnabled(true);
    return;
  }
  {
    LoginWindow window(controller_, LoginWay::kWay1, profileDir, this);
    window.exec();
  }
  accept();
}

void LoginChooser::openWay2() {
  way2_->setEnabled(false);
  {
    LoginWindow window(controller_, LoginWay::kWay2, {}, this);
    window.exec();
  }
  accept();
}

}  // namespace pansift
