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
  kExitUsage = 1,      // bad options, no such folder, a refused start
  kExitNoAccount = 2,  // no account, or the service does not accept its cookies
  kExitService = 3,    // the service could not be reached or failed
  kExitStopped = 4,    // stopped by Ctrl-C
};

struct CliIo {
  std::istream& in;
  std::ostream& out;  // results
  std::ostream& err;  // prompts, log lines and progress
  /// A terminal gets a progress bar rewritten in place; anything else plain lines.
  bool errIsTerminal = false;
  /// Every wait of the program goes through it; the real clock when none is given.
  Clock* clock = nullptr;
};

/// Runs one command line (argv[0] is the program's name) and returns its exit code.
int RunCli(int argc, const char* const* argv, const CliIo& io);

/// Asks the running check to stop, as the stop button does (what Ctrl-C calls; safe
/// in a signal handler). Returns how many stops were asked for, this one included.
int RequestStop();

}  // namespace pansift::cli
