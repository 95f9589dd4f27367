// PanSift: finds the files of a netdisk account that the service has blocked.
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <cstdlib>

#include "app/app_state.h"
#include "app/log.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "platform/qt/main_window_view.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_text.h"
#include "util/codepage.h"

int main(int argc, char** argv) {
  // Chromium refuses to run its sandbox as root.
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("PanSift"));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Finds and clears the blocked files of a netdisk account."));
  parser.addHelpOption();
  parser.process(application);

  pansift::ProgramDirChoice dir =
      pansift::ResolveProgramDir(QCoreApplication::applicationDirPath().toStdString());
  pansift::QtPlatform platform;
  pansift::AppState app(platform, dir.path);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    app.screenDpi =
        static_cast<int>(std::min(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY()));
  }

  pansift::MainWindowView window(app);
  window.show();
  // Loads the saved accounts on a thread of its own, shows the back-end notice and
  // empties err.txt.
  window.controller().Start();
  if (dir.fellBack) {
    pansift::AppendLog(app, pansift::L8("程序所在目录不可写，设置和日志保存在：") +
                                pansift::Utf8ToLocal(dir.path));
  }
  return application.exec();
}
