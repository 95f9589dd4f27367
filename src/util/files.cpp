#include "util/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace pansift {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is only durable once the folder that holds the name is on disk too.
bool SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Opens `path` with `flags` and, when `regularOnly` allows what it finds, reads it
// to its end; more than `maxBytes` is not read at all (a regular file) or not kept
// (a pipe).
FileRead ReadWhole(const std::string& path, int flags, bool regularOnly, size_t maxBytes) {
  FileRead result;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) {
    result.exists = errno != ENOENT && errno != ENOTDIR;
    return result;
  }
  result.exists = true;
  struct stat info {};
  const bool known = ::fstat(fd, &info) == 0;
  if (regularOnly && (!known || !S_ISREG(info.st_mode))) {
    ::close(fd);
    return result;
  }
  if (known && S_ISREG(info.st_mode) && static_cast<unsigned long long>(info.st_size) > maxBytes) {
    ::close(fd);
    result.tooLarge = true;
    return result;
  }
  char buffer[65536];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      result.bytes.clear();
      return result;
    }
    if (n == 0) break;
    if (result.bytes.size() + static_cast<size_t>(n) > maxBytes) {
      ::close(fd);
      result.bytes.clear();
      result.tooLarge = true;
      return result;
    }
    result.bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  result.ok = true;
  return result;
}

// Opens `path` for writing with `flags`, created (mode 0666 less the umask) when
// missing, and writes `bytes`.
bool OpenAndWrite(const std::string& path, int flags, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  ok = (::close(fd) == 0) && ok;
  return ok;
}

}  // namespace

FileRead ReadOwnFile(const std::string& path) {
  return ReadWhole(path, O_NOFOLLOW, true, std::numeric_limits<size_t>::max());
}

FileRead ReadFileBytes(const std::string& path, size_t maxBytes) {
  return ReadWhole(path, 0, false, maxBytes);
}

bool WriteFileBytes(const std::string& path, std::string_view bytes) {
  return OpenAndWrite(path, O_TRUNC, bytes);
}

bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned mode) {
  const std::string temp = path + ".tmp";
  ::unlink(temp.c_str());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(mode));
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    // The caller reports why; removing the temporary file must not change the reason.
    const int reason = errno;
    ::unlink(temp.c_str());
    errno = reason;
    return false;
  }
  // The new content is in place; a folder that cannot be flushed (some file systems
  // refuse) does not make the write a failure.
  SyncFolder(FolderOf(path));
  return true;
}

bool AppendToFile(const std::string& path, std::string_view bytes) {
  return OpenAndWrite(path, O_APPEND | O_NOFOLLOW, bytes);
}

bool TruncateFile(const std::string& path) {
  return OpenAndWrite(path, O_TRUNC | O_NOFOLLOW, {});
}

}  // namespace pansift
