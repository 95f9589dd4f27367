// The folders a run keeps its own files in. A program run from its build folder
// keeps them all beside the executable (its catalogue in the current directory);
// an installed one follows the XDG base directories, one folder per kind of file.
#pragma once

#include <string>

namespace pansift {

struct ProgramDirs {
  std::string config;  // netset.ini
  std::string data;    // baiduset.ini, history.db, the exports
  std::string state;   // err.txt
  std::string cache;   // the login browser's profiles
  /// The catalogue of a check; empty: vintrel.db in the current directory.
  std::string catalogue;

  bool operator==(const ProgramDirs&) const = default;

  /// Every kind in `folder`, the login profiles in its "cache" folder.
  static ProgramDirs allIn(const std::string& folder) {
    return {folder, folder, folder, folder.empty() ? std::string("cache") : folder + "/cache", {}};
  }
};

}  // namespace pansift
