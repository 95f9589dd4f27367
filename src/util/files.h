// File bytes, in one place. The program's own small files (the account file, the
// error log, settings) are read, appended and replaced without following symbolic
// links, and replaced so that a failed write never costs the previous content.
// Files a person names (an export, a table to import) are read and written where
// the name leads, as any program would.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace pansift {

struct FileRead {
  bool exists = false;    // something is at the path
  bool ok = false;        // and its bytes were read
  bool tooLarge = false;  // it held more than the reader would take; nothing was kept
  std::string bytes;
};

/// Reads a whole file. A symbolic link at `path` is not followed: it counts as
/// present but unreadable.
FileRead ReadOwnFile(const std::string& path);

/// Replaces `path` as a whole with `bytes`, created with `mode`: written to a
/// temporary file beside it, flushed to disk, renamed over the old file, and the
/// folder flushed, so that after a crash or a failed write (a full disk, a
/// read-only folder) the file holds either the old bytes or the new ones. On
/// failure errno says why.
bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned mode);

/// Reads a whole file a person named: a symbolic link is followed, and a pipe or
/// device is read to its end. A file of more than `maxBytes` is not read (a
/// regular file) or not kept (a pipe): `tooLarge` says so.
FileRead ReadFileBytes(const std::string& path,
                       size_t maxBytes = std::numeric_limits<size_t>::max());
/// Writes `bytes` over the file at `path` in place (created with mode 0666 less the
/// umask when missing, emptied first when present, through a symbolic link); false
/// when they could not all be written.
bool WriteFileBytes(const std::string& path, std::string_view bytes);

/// Appends `bytes`, creating the file (mode 0666 less the umask) when missing.
bool AppendToFile(const std::string& path, std::string_view bytes);
/// Empties the file, creating it when missing.
bool TruncateFile(const std::string& path);

}  // namespace pansift
