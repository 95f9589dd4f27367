// A fresh folder for one test, removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace pansift::testing {

class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "pansift-test-XXXXXX").string();
    path_ = mkdtemp(templ.data()) ? templ : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace pansift::testing
