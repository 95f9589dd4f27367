// pansift-cli: the command-line front end. It drives the same core and event table
// as the window (accounts, folder tree, the scan-and-check task) through the
// command-line Platform, so a script or a remote shell gets the window's results.
#pragma once

#include <iosfwd>

namespace pansift {
class Clock;
}

namespace pansift::cli {

enum ExitCode : int {
  kExitDone = 0,
  kExitUsage = 1,      // bad options, no such folder, a refused start, a question answered
                       // No, results that cannot be written
  kExitNoAccount = 2,  // no account, or the service does not accept its cookies
  kExitService = 3,    // the service could not be reached (the reason named) or failed
  kExitStopped = 4,    // stopped by Ctrl-C or SIGTERM
};

struct CliIo {
  std::istream& in;
  std::ostream& out;  // results
  std::ostream& err;  // prompts, log lines and progress
  /// A terminal gets a progress bar rewritten in place; anything else plain lines.
  bool errIsTerminal = false;
  /// Every wait of the program goes through it; the real clock when none is given.
  Clock* clock = nullptr;
  /// A person can answer questions on stdin (check --delete asks there).
  bool inIsTerminal = false;
};

/// Runs one command line (argv[0] is the program's name) and returns its exit code.
int RunCli(int argc, const char* const* argv, const CliIo& io);

/// Asks the running check to stop, as the stop button does (what Ctrl-C and SIGTERM
/// call; safe in a signal handler). Returns how many stops were asked for, this one
/// included.
int RequestStop();

/// Whether a check is running that takes a stop as the stop button (safe in a
/// signal handler); without one, a stop has nothing to wait for.
bool CheckTakesStops();

}  // namespace pansift::cli
