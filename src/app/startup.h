// Start-up of the program: where its files live, the HTTP back-end switch,
// the error log, and the close question.
#pragma once

#include <string>

namespace pansift {

struct AppState;

struct ProgramDirChoice {
  std::string path;
  bool fellBack = false;  // the executable's folder was not writable
};

/// The folder for settings and logs: the executable's folder when writable,
/// else $XDG_DATA_HOME/pansift (default ~/.local/share/pansift), created if needed.
/// When neither can be used: a private folder (mode 0700, this user's, not a link)
/// "pansift-<uid>" in $XDG_RUNTIME_DIR or the temporary folder, or a fresh
/// "pansift-<uid>-XXXXXX" when something else already holds that name.
ProgramDirChoice ResolveProgramDir(const std::string& executableDir);

/// The folder for settings and logs of a front end: `dataDir` when given (created
/// if needed); else $XDG_DATA_HOME/pansift for an installed program, whose folder is
/// shared by every user (even when root could write there); else ResolveProgramDir
/// of the executable's folder.
ProgramDirChoice ChooseProgramDir(const std::string& dataDir, const std::string& executableDir);

/// Whether netset.ini switches the curl back end on: the file's text up to its
/// first NUL byte holds the exact text "curl":"1".
bool ReadCurlSwitch(const std::string& netsetPath);

/// The status bar's notice about the back end in use (local text).
std::string CurlNotice(bool curlMode);

/// The start-up work of the main window: read netset.ini, show the back-end
/// notice, empty err.txt, and point the default Referer at the Netdisk origin.
void StartUp(AppState& app);

/// The main window's close question; true when the window may close.
bool QueryClose(AppState& app, bool taskRunning);

}  // namespace pansift
