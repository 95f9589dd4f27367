// Start-up of the program: where its files live, the HTTP back-end switch,
// the error log, and the close question.
#pragma once

#include <string>

#include "core/program_dirs.h"

namespace pansift {

struct AppState;

struct ProgramDirChoice {
  ProgramDirs dirs;
  bool fellBack = false;  // the executable's folder was not writable
};

/// The folders of the program's files: the executable's folder when writable; else
/// the user's XDG folders, each made if needed: settings in $XDG_CONFIG_HOME/pansift,
/// accounts and exports in $XDG_DATA_HOME/pansift, err.txt in $XDG_STATE_HOME/pansift
/// and the login browser's profiles in $XDG_CACHE_HOME/pansift (defaults ~/.config,
/// ~/.local/share, ~/.local/state, ~/.cache). When those cannot be used: one private
/// folder (mode 0700, this user's, not a link) "pansift-<uid>" in $XDG_RUNTIME_DIR
/// or the temporary folder, or a fresh "pansift-<uid>-XXXXXX" when something else
/// already holds that name.
ProgramDirChoice ResolveProgramDir(const std::string& executableDir);

/// The folders of a front end: `dataDir` when given (created if needed); else the
/// XDG folders for an installed program, whose own folder is shared by every user
/// (even when root could write there), with the catalogue in the state folder;
/// else ResolveProgramDir of the executable's folder.
ProgramDirChoice ChooseProgramDir(const std::string& dataDir, const std::string& executableDir);

/// What both front ends take from their command lines for their start.
struct FrontEndOptions {
  std::string dataDir;
  std::string netdiskOrigin;
  std::string passportOrigin;
  std::string portalOrigin;
  std::string caFile;
  std::string catalogue;  // the check's catalogue file
};

// The start of either front end, in this order:
//   PrepareFrontEnd, make the AppState in the folders it chose, ApplyFrontEndOptions,
//   start the main window (which reads netset.ini), FinishFrontEndStart.

/// Trusts the extra certificates of `caFile` for every request of the run and
/// chooses the folders.
ProgramDirChoice PrepareFrontEnd(const FrontEndOptions& options, const std::string& executableDir);
/// The service origins given on the command line.
void ApplyFrontEndOptions(AppState& app, const FrontEndOptions& options);
/// After netset.ini has been read: every request of the run goes through the back
/// end it chose; a fallback from the executable's folder is written to the log.
void FinishFrontEndStart(AppState& app, const ProgramDirChoice& choice);

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
