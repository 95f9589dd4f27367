#include "gui/qt_platform.h"

#include <cctype>

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include "gui/qt_text.h"
#include "util/clock.h"

namespace pansift {
namespace {

MessageBoxResult ShowTimedBox(const QString& caption, const QString& text, int timeoutMs,
                              MessageBoxStyle style, WindowId owner) {
  QWidget* parent = owner ? reinterpret_cast<QWidget*>(owner) : QApplication::activeWindow();
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(text);
  box.setObjectName(QStringLiteral("TimedMessageBox"));
  struct ButtonId {
    QMessageBox::StandardButton button;
    MessageBoxResult id;
  };
  std::vector<ButtonId> buttons;
  switch (style) {
    case kStyleOkCancelQuestion:
      box.setIcon(QMessageBox::Question);
      buttons = {{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, kIdCancel}};
      break;
    case kStyleYesNoQuestion:
      box.setIcon(QMessageBox::Question);
      buttons = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
      break;
    case kStyleWarning:
      box.setIcon(QMessageBox::Warning);
      buttons = {{QMessageBox::Ok, kIdOk}};
      break;
    case kStyleYesNoStop:
      box.setIcon(QMessageBox::Critical);
      buttons = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
      break;
    case kStyleYesNoWarning:
      box.setIcon(QMessageBox::Warning);
      buttons = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
      break;
    default:
      box.setIcon(QMessageBox::Information);
      buttons = {{QMessageBox::Ok, kIdOk}};
  }
  for (const ButtonId& b : buttons) box.addButton(b.button);
  bool timedOut = false;
  if (timeoutMs > 0) {
    QTimer::singleShot(timeoutMs, &box, [&box, &timedOut] {
      timedOut = true;
      box.done(0);
    });
  }
  box.exec();
  if (timedOut) return kIdTimeout;
  QAbstractButton* clicked = box.clickedButton();
  for (const ButtonId& b : buttons) {
    if (clicked == box.button(b.button)) return b.id;
  }
  // Closed with Escape or the window's close box: the negative answer.
  return buttons.size() > 1 ? buttons.back().id : kIdOk;
}

}  // namespace

std::string CaseInsensitiveFilter(std::string_view localFilter) {
  std::string out;
  bool inExtension = false;  // after "*." of a pattern
  for (size_t i = 0; i < localFilter.size(); ++i) {
    const char c = localFilter[i];
    if (inExtension && std::isalpha(static_cast<unsigned char>(c))) {
      out += '[';
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      out += ']';
      continue;
    }
    // Local text: a GBK lead byte takes its trail byte along, so neither is read as ASCII.
    if (static_cast<unsigned char>(c) >= 0x80 && i + 1 < localFilter.size()) {
      out += c;
      out += localFilter[++i];
      inExtension = false;
      continue;
    }
    inExtension = (inExtension && (std::isdigit(static_cast<unsigned char>(c)) || c == '.')) ||
                  (c == '.' && i > 0 && localFilter[i - 1] == '*');
    out += c;
  }
  return out;
}

QtPlatform::QtPlatform(Clock* clock) : clock_(clock ? clock : &SystemClock::instance()) {}

bool QtPlatform::isUiThread() const {
  return QThread::currentThread() == qApp->thread();
}

void QtPlatform::runOnUi(const std::function<void()>& work) {
  if (isUiThread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(
      qApp, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

MessageBoxResult QtPlatform::messageBox(std::string_view caption, std::string_view text,
                                        int timeoutMs, MessageBoxStyle style, WindowId owner) {
  QString c = FromLocal(caption);
  QString t = FromLocal(text);
  MessageBoxResult result = kIdTimeout;
  runOnUi([&] { result = ShowTimedBox(c, t, timeoutMs, style, owner); });
  return result;
}

void QtPlatform::setClipboard(std::u16string text) {
  QString value = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  post([value] { QGuiApplication::clipboard()->setText(value); });
}

void QtPlatform::openUrl(const std::string& url) {
  QUrl target(QString::fromUtf8(url.c_str()));
  post([target] { QDesktopServices::openUrl(target); });
}

void QtPlatform::showInFileManager(const std::string& path) {
  QFileInfo file(QString::fromUtf8(path.c_str()));
  QString uri = QUrl::fromLocalFile(file.absoluteFilePath()).toString();
  QString folder = file.absolutePath();
  post([uri, folder] {
    // The freedesktop file manager interface selects the file in its folder; without
    // one the folder is opened by whatever opens folders.
    auto openFolder = [folder] { QProcess::startDetached(QStringLiteral("xdg-open"), {folder}); };
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    bool present = names && (names->isServiceRegistered(service).value() ||
                             names->activatableServiceNames().value().contains(service));
    if (!present) {
      openFolder();
      return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                       service, QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp,
                     [openFolder](QDBusPendingCallWatcher* done) {
                       if (done->isError()) openFolder();
                       done->deleteLater();
                     });
  });
}

void QtPlatform::notifyIfInactive(std::string_view title, std::string_view text) {
  QString summary = FromLocal(title);
  QString body = FromLocal(text);
  post([summary, body] {
    if (QApplication::activeWindow() != nullptr) return;
    // The freedesktop notification service; without one there is nobody to tell.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The body is markup to some servers: a file name in it is text.
    call << QStringLiteral("PanSift") << 0u << QStringLiteral("org.pansift.PanSift") << summary
         << body.toHtmlEscaped() << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("org.pansift.PanSift")}}
         << -1;
    bus.asyncCall(call);
  });
}

void QtPlatform::openWithDefaultProgram(const std::string& path) {
  QString file = QString::fromUtf8(path.c_str());
  post([file] { QDesktopServices::openUrl(QUrl::fromLocalFile(file)); });
}

std::string QtPlatform::chooseOpenFile(const OpenFileRequest& request) {
  std::string chosen;
  runOnUi([&] {
    QWidget* parent =
        request.owner ? reinterpret_cast<QWidget*>(request.owner) : QApplication::activeWindow();
    // The patterns are spelled out for any case; the list shows only the filter's name.
    QString file = QFileDialog::getOpenFileName(parent, FromLocal(request.title),
                                                QString::fromUtf8(request.startDir.c_str()),
                                                FromLocal(CaseInsensitiveFilter(request.filter)),
                                                nullptr, QFileDialog::HideNameFilterDetails);
    chosen = file.toStdString();
  });
  return chosen;
}

void QtPlatform::processEvents() {
  if (isUiThread()) QCoreApplication::processEvents();
}

void QtPlatform::waitPumping(std::chrono::milliseconds duration) {
  if (!isUiThread()) {
    clock_->sleepFor(duration);
    return;
  }
  // QTimer takes at most about 24 days; longer waits run in steps of a day.
  constexpr std::chrono::milliseconds kStep(86400000);
  while (duration.count() > 0) {
    std::chrono::milliseconds step = std::min(duration, kStep);
    QEventLoop loop;
    QTimer::singleShot(step, &loop, &QEventLoop::quit);
    loop.exec();
    duration -= step;
  }
}

void QtPlatform::post(std::function<void()> uiWork) {
  QMetaObject::invokeMethod(qApp, std::move(uiWork), Qt::QueuedConnection);
}

}  // namespace pansift
