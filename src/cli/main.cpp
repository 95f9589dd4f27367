// pansift-cli: PanSift without a window.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "cli/cli_app.h"

namespace {

// The first Ctrl-C stops the task like the stop button; a second ends at once.
void OnInterrupt(int) {
  if (pansift::cli::RequestStop() > 1) _exit(pansift::cli::kExitStopped);
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  pansift::cli::CliIo io{std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) == 1};
  int code = pansift::cli::RunCli(argc, argv, io);
  std::cout.flush();
  std::cerr.flush();
  // Workers still waiting for the service are not waited for (as when the window closes).
  std::fflush(nullptr);
  std::_Exit(code);
}
