// The program's own small files (the account file, the error log, settings):
// read, appended and replaced without following symbolic links, and replaced
// so that a failed write never costs the previous content.
#pragma once

#include <string>
#include <string_view>

namespace pansift {

struct FileRead {
  bool exists = false;  // something is at the path
  bool ok = false;      // and its bytes were read
  std::string bytes;
};

/// Reads a whole file. A symbolic link at `path` is not followed: it counts as
/// present but unreadable.
FileRead ReadOwnFile(const std::string& path);

/// Replaces `path` as a whole with `bytes`, created with `mode`: written to a
/// temporary file beside it, flushed to disk, renamed over the old file, and the
/// folder flushed, so that after a crash or a failed write (a full disk, a
/// read-only folder) the file holds either the old bytes or the new ones.
bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned mode);

/// Appends `bytes`, creating the file (mode 0666 less the umask) when missing.
bool AppendToFile(const std::string& path, std::string_view bytes);
/// Empties the file, creating it when missing.
bool TruncateFile(const std::string& path);

}  // namespace pansift
