#include "core/install_layout.h"

#include <filesystem>

namespace pansift {

std::string InstalledDataDir(const std::string& executableDir) {
#ifdef PANSIFT_BIN_TO_DATA
  if (executableDir.empty()) return {};
  std::filesystem::path dir =
      (std::filesystem::path(executableDir) / PANSIFT_BIN_TO_DATA).lexically_normal();
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return dir.string();
#else
  (void)executableDir;
#endif
  return {};
}

}  // namespace pansift
