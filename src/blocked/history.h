// The history of findings: every blocked file a check found, across runs and
// accounts, in history.db (SQLite, WAL) in the data folder. A scheduled check reads
// it to tell what is new.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace pansift {

struct BlockedRow;

/// The file name of the history in the data folder.
inline constexpr const char* kHistoryFileName = "history.db";

struct Finding {
  std::string account;  // the account's user name, UTF-8
  std::string fsid;
  std::string path;         // the file's netdisk path, UTF-8
  long long firstSeen = 0;  // seconds since the epoch
  long long lastSeen = 0;
  std::string state;  // FindingState's words
};

/// The words scripts read for a row's last delete or move: "pending", "deleted",
/// "delete_failed", "moved" or "move_failed". A move's status counts over a delete's,
/// a success over a failure; a file the service no longer has counts as deleted.
std::string FindingState(const BlockedRow& row);

class FindingsHistory {
 public:
  /// Opens `path`, making it when missing; ok() tells whether that worked.
  explicit FindingsHistory(const std::string& path);
  ~FindingsHistory();
  FindingsHistory(const FindingsHistory&) = delete;
  FindingsHistory& operator=(const FindingsHistory&) = delete;

  bool ok() const { return db_ != nullptr; }
  /// Why the file could not be opened or the last statement failed ("" when none did).
  std::string error() const;

  enum class Found { kNew, kKnown, kFailed };
  /// A check found the file at `when`: a new record seen first and last then, or the
  /// record's last sighting (and path, when the file was renamed) moved on.
  Found recordFound(std::string_view account, std::string_view fsid, std::string_view path,
                    long long when);
  /// The last delete or move state of a recorded file; a file never found is left out.
  bool recordState(std::string_view account, std::string_view fsid, std::string_view state);
  /// The record of one file.
  std::optional<Finding> find(std::string_view account, std::string_view fsid) const;
  /// The records of `account` (every account when empty) last seen at or after `since`,
  /// oldest first.
  std::vector<Finding> list(std::string_view account, long long since) const;

 private:
  /// Runs one statement under the lock held; the rows it changed, -1 when it failed.
  int run(std::string_view sql, const std::vector<std::string_view>& texts,
          const std::vector<long long>& numbers);

  mutable std::mutex mutex_;
  sqlite3* db_ = nullptr;
  mutable std::string error_;
};

}  // namespace pansift
