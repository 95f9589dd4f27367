// pansift-cli: PanSift without a window.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "cli/cli_app.h"

namespace {

// The first Ctrl-C or SIGTERM stops the check like the stop button, and the program
// prints what the check found; a second one, or one while no check runs, ends the
// program at once.
void OnStopSignal(int) {
  if (pansift::cli::RequestStop() > 1 || !pansift::cli::CheckTakesStops())
    _exit(pansift::cli::kExitStopped);
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed pipe on stdout is a failed write, which the command reports.
  signal(SIGPIPE, SIG_IGN);

  pansift::cli::CliIo io{std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) == 1};
  io.inIsTerminal = isatty(STDIN_FILENO) == 1;
  int code = pansift::cli::RunCli(argc, argv, io);
  std::cerr.flush();
  // Workers still waiting for the service are not waited for (as when the window closes).
  std::fflush(nullptr);
  std::_Exit(code);
}
