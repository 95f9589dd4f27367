// Where an installed program finds its own read-only files. An install puts the
// executables in <prefix>/bin and the rest (the help page) in <prefix>/share/pansift;
// the build tree keeps them beside the executable instead.
#pragma once

#include <string>

namespace pansift {

/// <prefix>/share/pansift when `executableDir` is the bin folder of an install that
/// has it; "" otherwise (a program run from its build folder).
std::string InstalledDataDir(const std::string& executableDir);

}  // namespace pansift
