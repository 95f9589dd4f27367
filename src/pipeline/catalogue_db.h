// The catalogue: the SQLite file `vintrel.db` holding one row per Netdisk entry of
// the running scan-and-check task, the one connection to it, and every statement
// the task issues. Beside the template's table `list`, the table `task` records
// which task the rows belong to and how far it came, so that a task cut short by a
// stop, a crash or a lost network can be resumed.
//
// All texts crossing this interface are local text (GBK); the file stores UTF-8.
// The connection is shared by the task's threads: every use of it (a statement, or
// a query from QueryRows to Close) happens under AppState::catalogueLock.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace pansift {

struct AppState;
class Clock;

/// The file name of the catalogue, relative to the folder it lives in.
inline constexpr const char* kCatalogueFileName = "vintrel.db";

/// How often CatalogueDb::retry tries a failing statement, and the wait between tries.
inline constexpr int kCatalogueTries = 10;
inline constexpr std::chrono::milliseconds kCatalogueRetryWait{500};

/// Column numbers of table `list`, in table order.
enum CatalogueColumn : int {
  kColId = 0,
  kColFolder = 1,
  kColFilename = 2,
  kColOrder = 3,
  kColType = 4,
  kColTime = 5,
  kColSize = 6,
  kColOrdersign = 7,
  kColQueried = 8,
  kColCount = 9,
  kColLowernum = 10,
  kColTarget = 11,
  kColOther1 = 12,
};

/// How far a task has come, as table `task` records it.
enum class TaskPhase {
  kList,   // the selected folder's own listing
  kCrawl,  // its folders are handed out and listed
  kCheck,  // every folder is listed; the check phase
  kDone,   // the check phase ran to its end
};

/// The task a catalogue belongs to: whose folder, which one, how deep, how far it
/// came and when it started.
struct TaskRecord {
  std::string uk;         // the account's uk
  std::u16string folder;  // the selected folder, as the service names it
  int depth = 0;          // the depth box's number; 0: no limit
  TaskPhase phase = TaskPhase::kList;
  std::string startedAt;  // local time, "yyyy-MM-dd hh:mm:ss"
};

/// A catalogue's task record and how much of the task is done.
struct StoredTask {
  TaskRecord record;
  long long rows = 0;     // entries catalogued
  long long checked = 0;  // entries marked "正常" or "已和谐"
};

/// Reads the task record of the catalogue file `path` (see CatalogueFile) through a connection of
/// its own, without logging anything: nothing when there is no catalogue, it cannot be read, or it
/// holds no record (a file made before records were kept). Completes what a killed program left in
/// the file's write-ahead log, as any open does. The caller holds the catalogue's claim.
std::optional<StoredTask> ReadStoredTask(const std::string& path = {});

/// One row of table `list` (local text). `folder` and `filename` hold the entry's
/// path and name entity-encoded twice (StoredName); `other1` is the check result,
/// empty while unchecked.
struct CatalogueRow {
  std::string folder;
  std::string filename;
  std::string order;      // level below the selected folder, "01", "02", ...
  std::string type;       // "1" folder, "0" file
  std::string time;       // FormatLocalTime(): the Chinese style, date and time
  std::string size;       // bytes, decimal
  std::string ordersign;  // parent's ordersign + three-digit page position
  std::string count;      // page position, plain decimal
  std::string lowernum;   // order + 1, two digits
  std::string target;     // fs_id, decimal
};

/// A prepared query and its current row. Move-only; closes itself when destroyed.
/// Use it only while holding catalogueLock, from QueryRows to Close.
class CatalogueQuery {
 public:
  CatalogueQuery() = default;
  /// SQLite's message of a failed step or count goes to `error` when given.
  explicit CatalogueQuery(sqlite3_stmt* statement, std::string* error = nullptr)
      : statement_(statement), error_(error) {}
  CatalogueQuery(CatalogueQuery&& other) noexcept;
  CatalogueQuery& operator=(CatalogueQuery&& other) noexcept;
  CatalogueQuery(const CatalogueQuery&) = delete;
  CatalogueQuery& operator=(const CatalogueQuery&) = delete;
  ~CatalogueQuery() { close(); }

  /// Whether the query text was prepared; an unprepared query has no rows.
  bool prepared() const { return statement_ != nullptr; }
  /// Advances to the next row; true while a row is available.
  bool step();
  /// The query was not prepared, or a step failed (a locked or damaged file) rather
  /// than reaching the end: the rows read so far need not be all.
  bool failed() const { return statement_ == nullptr || stepFailed_; }
  /// The column's value of the current row as local text; NULL, no current row or
  /// a column out of range read as empty text.
  std::string text(int column) const;
  /// How many rows the query matches: "select count(*) " followed by the query's
  /// text from its first top-level "from". -1 when that count cannot be made or
  /// read.
  long long count() const;
  /// Finalises the statement; further Steps return false.
  void close();

 private:
  // Notes SQLite's current message in error_.
  void noteError() const;

  sqlite3_stmt* statement_ = nullptr;
  std::string* error_ = nullptr;
  bool hasRow_ = false;
  bool stepFailed_ = false;
};

class CatalogueDb {
 public:
  /// Failed statements are logged to the err.txt of `app`, and a catalogue that
  /// cannot be made, opened or written to its log pane; retry waits go through
  /// `clock`, or the platform's clock when none is given.
  explicit CatalogueDb(AppState& app, Clock* clock = nullptr);
  CatalogueDb(const CatalogueDb&) = delete;
  CatalogueDb& operator=(const CatalogueDb&) = delete;
  ~CatalogueDb();

  enum class Claim { kClaimed, kHeldElsewhere, kNoLockFile };
  /// Claims the catalogue file `path` (see CatalogueFile) for this task: an
  /// exclusive lock on the file "<path>.lock" beside it, which ends with the process, so two
  /// programs never write one catalogue. kHeldElsewhere while another holder has it; kNoLockFile
  /// when the lock file cannot be made (the folder is not writable). Claiming again
  /// first gives up an earlier claim.
  Claim claim(const std::string& path = {});
  /// Gives the claim up; nothing when there is none.
  void release();
  /// Overwrites the catalogue file `path` (see CatalogueFile) with the empty
  /// catalogue. An open connection is closed first and a journal
  /// left beside the old file is removed, so nothing of the old file survives.
  /// False when the file cannot be written; the log then names the file and why.
  bool createCatalogue(const std::string& path = {});
  /// Opens the catalogue file `path` (see CatalogueFile) read-write; the file must exist. Closes a
  /// connection that is still open first. Adds two indexes of its own to the file
  /// (kept when it closes): the lookups by `target` and the next unlisted folder
  /// would otherwise scan the whole table once per file and once per folder; and
  /// the table `task` when it is missing. Writes through a write-ahead log while
  /// open. False when it cannot be opened; the log then names the file and
  /// SQLite's message.
  bool openCatalogue(const std::string& path = {});
  /// Closes the connection; it counts as closed afterwards whatever the close said.
  /// The file is left with a rollback journal, as the template has it, when no
  /// other connection holds it.
  void closeCatalogue();
  bool isOpen() const { return db_ != nullptr; }

  /// Runs `sql` (local text, one or more statements) in its own transaction and
  /// commits it when every statement succeeded; otherwise nothing of it stays.
  /// Takes no lock: the caller holds catalogueLock.
  bool executeStatement(std::string_view sql);
  /// ExecuteStatement under catalogueLock; on failure, after releasing the lock,
  /// appends `sql` to err.txt. The caller must not hold catalogueLock.
  bool executeLogged(std::string_view sql);
  /// Prepares the first statement of `sql` (local text). The caller holds
  /// catalogueLock until it has closed the result.
  CatalogueQuery queryRows(std::string_view sql);

  /// Makes `record` the catalogue's task record (there is one), in a transaction
  /// of its own. Takes catalogueLock; logs nothing: a task whose record could not
  /// be written runs all the same, it only cannot be resumed.
  bool recordTask(const TaskRecord& record);
  /// Records the phase the task has reached, as recordTask.
  bool recordPhase(TaskPhase phase);

  /// Runs `attempt` until it returns true, at most kCatalogueTries times, waiting
  /// kCatalogueRetryWait on the clock between tries. `attempt` takes catalogueLock
  /// itself, so no lock is held while waiting. `stopped` is asked before every
  /// wait; true ends the tries at once. When the last try has failed, one log line
  /// names the catalogue file and SQLite's message, and the failure is counted.
  /// True when a try succeeded.
  bool retry(const std::function<bool()>& attempt, const std::function<bool()>& stopped);
  /// How many steps retry gave up since the catalogue was last opened.
  int failures() const { return failures_.load(); }
  /// The file of the last create or open and the message of the last failure,
  /// "<file>：<message>" (local text), as the log names them.
  std::string lastFailure();

 private:
  // The full path of the file of the last create or open, and the message of the
  // last failure (both UTF-8).
  std::pair<std::string, std::string> failedFileAndWhy();
  // Logs `before`, the file, `after`, "：" and the message of the last failure.
  void logFailure(std::string_view before, std::string_view after);

  AppState& app_;
  Clock& clock_;
  sqlite3* db_ = nullptr;
  int claimFd_ = -1;
  // The file of the last create or open, and the message of the last failure, both
  // under catalogueLock.
  std::string path_;
  std::string lastError_;
  std::atomic<int> failures_{0};
};

/// The catalogue file a task uses when given `path`: vintrel.db in the current
/// directory when `path` is empty.
std::string CatalogueFile(const std::string& path);
/// The path of the catalogue file in `folder` (the current directory when empty).
std::string CataloguePath(const std::string& folder);

/// A path or name from a listing (escaped local text, see UnicodeToEscapedLocal) as
/// the catalogue stores it: entity-encoded twice.
std::string StoredName(std::string_view listed);
/// The service's own path of a stored `folder` value, exactly: the inverse of
/// StoredName and of the escapes. Never removes words from it: a name may hold
/// "amp;" or "&quot;" as text.
std::u16string NetdiskPathOfStored(std::string_view stored);

/// The process's catalogue object (AppState::catalogue), made on first use.
CatalogueDb& Catalogue(AppState& app);

// The statements of the task. Values are quoted so that no value can end its
// literal early; valid values are stored exactly as given. All results are local text.

/// Adds an entry with `queried` "0".
std::string InsertEntryStatement(const CatalogueRow& row);
/// The next folder row not yet taken by the dispatcher, in id order.
std::string NextFolderQuery();
/// Marks a folder row as taken.
std::string MarkFolderQueriedStatement(long long id);
/// Marks a folder row as taken and notes in table `task` that its listing has
/// begun, in one text: a folder is never taken without the note.
std::string TakeFolderStatement(long long id);
/// The listing of the folder row `id` has ended: its note goes.
std::string FolderListedStatement(long long id);
/// For a resumed task: the folder rows whose listing began and never ended are
/// handed out again, and their notes go.
std::string ReopenUnlistedFoldersStatement();
/// Adds an entry as InsertEntryStatement does, unless a row holds its fs_id
/// already: a resumed task lists a folder again whose listing was cut short.
std::string InsertNewEntryStatement(const CatalogueRow& row);
/// Every row without a check result; its Count is the check phase's total.
std::string UncheckedRowsQuery();
/// Every folder row: the folders among the whole task's entries (an earlier run's
/// marked ones included when the task is resumed).
std::string FolderRowsQuery();
/// The unchecked rows with from < id <= to.
std::string UncheckedRangeQuery(long long from, long long to);
/// Marks the file with this fs_id as blocked ("已和谐").
std::string MarkBlockedStatement(std::string_view fsId);
/// The row of the file with this fs_id.
std::string RowByTargetQuery(std::string_view fsId);
/// Marks the file with this fs_id as not blocked ("正常").
std::string MarkNormalStatement(std::string_view fsId);
/// One row: every row, the rows marked "正常" or "已和谐", those marked "已和谐",
/// and the highest id (empty when there is none).
std::string RowCountsQuery();
/// The rows marked "已和谐", in id order.
std::string BlockedRowsQuery();

}  // namespace pansift
