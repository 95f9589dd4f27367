// PanSift: finds the files of a netdisk account that the service has blocked.
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "app/startup.h"
#include "core/app_state.h"
#include "core/log.h"
#include "gui/main_window_view.h"
#include "gui/qt_platform.h"
#include "gui/qt_text.h"
#include "net/http.h"
#include "pansift_version.h"
#include "util/codepage.h"

int main(int argc, char** argv) {
  // Chromium refuses to run its sandbox as root.
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Finds and clears the blocked files of a netdisk account."));
  parser.addHelpOption();
  // Printed under the program's own name, as pansift-cli prints its version.
  QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Displays version information."));
  QCommandLineOption dataDirOption(
      QStringLiteral("data-dir"),
      QStringLiteral("Keep settings, accounts and logs in <dir> instead of beside the program."),
      QStringLiteral("dir"));
  QCommandLineOption netdiskOption(
      QStringLiteral("netdisk-origin"),
      QStringLiteral("The netdisk web origin (default: the real service)."), QStringLiteral("url"));
  QCommandLineOption passportOption(QStringLiteral("passport-origin"),
                                    QStringLiteral("The account passport origin."),
                                    QStringLiteral("url"));
  QCommandLineOption portalOption(QStringLiteral("portal-origin"),
                                  QStringLiteral("The portal origin."), QStringLiteral("url"));
  QCommandLineOption caFileOption(QStringLiteral("ca-file"),
                                  QStringLiteral("Also trust the certificates in this PEM file."),
                                  QStringLiteral("file"));
  QCommandLineOption catalogueOption(
      QStringLiteral("catalogue"),
      QStringLiteral("The check's catalogue (default: vintrel.db in the current folder, or in "
                     "$XDG_STATE_HOME/pansift for an installed program)."),
      QStringLiteral("file"));
  parser.addOptions({versionOption, dataDirOption, netdiskOption, passportOption, portalOption,
                     caFileOption, catalogueOption});
  const auto printVersion = [] { std::fputs("pansift " PANSIFT_VERSION_TEXT "\n", stdout); };
  // --version needs no display: answered before Qt connects to one. A command line
  // with Qt's own options is left to the parse below, after Qt has taken those.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  if (parser.parse(arguments) && parser.isSet(versionOption)) {
    printVersion();
    return 0;
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("PanSift"));
  // Wayland finds the window's icon and menu entry by the desktop file's name.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.pansift.PanSift"));
  parser.process(application);
  if (parser.isSet(versionOption)) {
    printVersion();
    return 0;
  }
  const auto optionText = [&parser](const QCommandLineOption& option) {
    return parser.isSet(option) ? parser.value(option).toStdString() : std::string();
  };
  pansift::FrontEndOptions options{optionText(dataDirOption),  optionText(netdiskOption),
                                   optionText(passportOption), optionText(portalOption),
                                   optionText(caFileOption),   optionText(catalogueOption)};
  pansift::ProgramDirChoice dir =
      pansift::PrepareFrontEnd(options, QCoreApplication::applicationDirPath().toStdString());
  pansift::QtPlatform platform;
  pansift::AppState app(platform, dir.dirs);
  pansift::ApplyFrontEndOptions(app, options);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    app.screenDpi =
        static_cast<int>(std::min(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY()));
  }

  pansift::MainWindowView window(app);
  window.show();
  // Loads the saved accounts on a thread of its own, shows the back-end notice and
  // empties err.txt.
  window.controller().start();
  pansift::FinishFrontEndStart(app, dir);
  int exitCode = application.exec();
  // Closing the window ends the program at once: workers still waiting for the
  // service (or for a prompt that can no longer be shown) are not waited for.
  std::fflush(nullptr);
  std::_Exit(exitCode);
}
