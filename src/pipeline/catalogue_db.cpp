#include "pipeline/catalogue_db.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "core/app_state.h"
#include "core/log.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/files.h"
#include "util/text.h"

namespace pansift {
namespace {

// The schema exactly as the catalogue stores it. The index text keeps the line
// feeds before its terminator: SQLite stores them as part of the statement.
constexpr const char* kCreateTable =
    "CREATE TABLE \"list\" (\n"
    "\t`id`\tINTEGER PRIMARY KEY AUTOINCREMENT UNIQUE,\n"
    "\t`folder`\tTEXT,\n"
    "\t`filename`\tTEXT,\n"
    "\t`order`\tTEXT,\n"
    "\t`type`\tTEXT,\n"
    "\t`time`\tTEXT,\n"
    "\t`size`\tTEXT,\n"
    "\t`ordersign`\tTEXT,\n"
    "\t`queried`\tTEXT,\n"
    "\t`count`\tTEXT,\n"
    "\t`lowernum`\tTEXT,\n"
    "\t`target`\tTEXT,\n"
    "\t`other_1`\tTEXT\n"
    ");";
constexpr const char* kCreateIndex =
    "CREATE INDEX `aaa` ON `list` (`folder` ,`filename` ,`order` ,`type` )"
    "\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n;";

// The indexes the statements need (the template's `aaa` serves none of them): marks
// and path lookups by fs_id, and the dispatcher's next folder row. The folder index
// holds only the rows the dispatcher has still to take, in id order, so the query
// reads its first row at once however large the catalogue has grown.
constexpr const char* kWorkingIndexes =
    "CREATE INDEX IF NOT EXISTS `target_lookup` ON `list` (`target`);"
    "CREATE INDEX IF NOT EXISTS `unlisted_folders` ON `list` (`queried`) "
    "WHERE type='1' AND queried='0';";

// The task the rows belong to (TaskRecord): its own row has `listing` NULL. Each
// folder row the dispatcher has taken and whose listing has not ended has a row
// holding only its id in `listing`; a resumed task lists those folders again.
constexpr const char* kTaskTable =
    "CREATE TABLE IF NOT EXISTS `task` (`uk` TEXT, `folder` TEXT, `depth` INTEGER, "
    "`phase` TEXT, `started` TEXT, `listing` INTEGER);";

// A killed program loses no committed transaction with a write-ahead log, and the
// next open completes or drops what it left half-written, so the file is never
// damaged. synchronous=NORMAL syncs the log only when it is copied into the file,
// so a commit does not wait for the disk (bench/README.md); what a power failure
// may cost is the last few transactions, never the file.
constexpr const char* kDurability = "PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;";

constexpr const char* kPhaseNames[] = {"list", "crawl", "check", "done"};

const char* PhaseName(TaskPhase phase) {
  return kPhaseNames[static_cast<size_t>(phase)];
}

std::optional<TaskPhase> PhaseNamed(std::string_view name) {
  for (size_t i = 0; i < std::size(kPhaseNames); ++i) {
    if (name == kPhaseNames[i]) return static_cast<TaskPhase>(i);
  }
  return std::nullopt;
}

// The UTF-8 text of a column of the current row ("" for NULL).
std::string ColumnUtf8(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

// The task record of an open catalogue and its counts; nothing without a record.
std::optional<StoredTask> ReadTask(sqlite3* db) {
  std::optional<StoredTask> stored;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT uk, folder, depth, phase, started FROM task "
                         "WHERE listing IS NULL LIMIT 1",
                         -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    const std::optional<TaskPhase> phase = PhaseNamed(ColumnUtf8(statement, 3));
    if (phase) {
      stored.emplace();
      stored->record.uk = Utf8ToLocal(ColumnUtf8(statement, 0));
      stored->record.folder = Utf8ToUnicode(ColumnUtf8(statement, 1));
      stored->record.depth = sqlite3_column_int(statement, 2);
      stored->record.phase = *phase;
      stored->record.startedAt = Utf8ToLocal(ColumnUtf8(statement, 4));
    }
  }
  sqlite3_finalize(statement);
  if (!stored) return stored;
  statement = nullptr;
  if (sqlite3_prepare_v2(db, LocalToUtf8(RowCountsQuery()).c_str(), -1, &statement, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    stored->rows = sqlite3_column_int64(statement, 0);
    stored->checked = sqlite3_column_int64(statement, 1);
  } else {
    stored.reset();
  }
  sqlite3_finalize(statement);
  return stored;
}

constexpr int kBeginRetries = 10;
constexpr std::chrono::milliseconds kBeginRetryWait{50};

constexpr const char* kNotOpen = "the catalogue is not open";

// The empty catalogue's file image, built once in memory: page size 1 024, UTF-8,
// rollback journal, and the AUTOINCREMENT counter of `list` at 0 so the first id is 1.
std::string BuildTemplateImage() {
  sqlite3* db = nullptr;
  std::string image;
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) ==
      SQLITE_OK) {
    // The page size must be set before the first table exists.
    const std::string script = std::string("PRAGMA page_size=1024;PRAGMA encoding='UTF-8';") +
                               kCreateTable + kCreateIndex +
                               "INSERT INTO sqlite_sequence (name, seq) VALUES ('list', 0);";
    if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
      sqlite3_int64 size = 0;
      if (unsigned char* bytes = sqlite3_serialize(db, "main", &size, 0)) {
        image.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
        sqlite3_free(bytes);
      }
    }
  }
  sqlite3_close_v2(db);
  return image;
}

const std::string& TemplateImage() {
  static const std::string image = BuildTemplateImage();
  return image;
}

// A value as an SQL string literal. Apostrophes are doubled, so a value can never
// end its literal and add to the statement; a value without one is unchanged. A
// NUL byte ends local text, and would otherwise cut the whole statement text short.
// (GBK trail bytes never take the value 0x27, so doubling byte-wise is safe.)
std::string Quote(std::string_view value) {
  value = value.substr(0, value.find('\0'));
  std::string out = "'";
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// The byte offset of the first "from" keyword outside parentheses, quoted texts and
// comments, or npos.
size_t FindTopLevelFrom(std::string_view sql) {
  int depth = 0;
  size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      char close = c == '[' ? ']' : c;
      size_t end = sql.find(close, i + 1);
      // A doubled quote inside a literal stands for itself: find() just resumes after it.
      while (end != std::string_view::npos && close != ']' && end + 1 < sql.size() &&
             sql[end + 1] == close) {
        end = sql.find(close, end + 2);
      }
      if (end == std::string_view::npos) return std::string_view::npos;
      i = end + 1;
      continue;
    }
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      size_t end = sql.find('\n', i);
      if (end == std::string_view::npos) return std::string_view::npos;
      i = end + 1;
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      size_t end = sql.find("*/", i + 2);
      if (end == std::string_view::npos) return std::string_view::npos;
      i = end + 2;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (depth == 0 && (c == 'f' || c == 'F') && i + 4 <= sql.size() &&
        (i == 0 || !IsWordChar(sql[i - 1])) && (i + 4 == sql.size() || !IsWordChar(sql[i + 4]))) {
      bool match = true;
      for (size_t k = 0; k < 4; ++k) {
        if (std::tolower(static_cast<unsigned char>(sql[i + k])) != "from"[k]) match = false;
      }
      if (match) return i;
    }
    ++i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string CatalogueFile(const std::string& path) {
  return path.empty() ? std::string(kCatalogueFileName) : path;
}

std::string CataloguePath(const std::string& folder) {
  if (folder.empty()) return kCatalogueFileName;
  std::string path = folder;
  if (path.back() != '/') path += '/';
  return path + kCatalogueFileName;
}

// ---- CatalogueQuery ----

CatalogueQuery::CatalogueQuery(CatalogueQuery&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)),
      error_(std::exchange(other.error_, nullptr)),
      hasRow_(std::exchange(other.hasRow_, false)),
      stepFailed_(std::exchange(other.stepFailed_, false)) {}

CatalogueQuery& CatalogueQuery::operator=(CatalogueQuery&& other) noexcept {
  if (this != &other) {
    close();
    statement_ = std::exchange(other.statement_, nullptr);
    error_ = std::exchange(other.error_, nullptr);
    hasRow_ = std::exchange(other.hasRow_, false);
    stepFailed_ = std::exchange(other.stepFailed_, false);
  }
  return *this;
}

bool CatalogueQuery::step() {
  hasRow_ = false;
  if (!statement_) return false;
  const int rc = sqlite3_step(statement_);
  hasRow_ = rc == SQLITE_ROW;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    stepFailed_ = true;
    noteError();
  }
  return hasRow_;
}

void CatalogueQuery::noteError() const {
  if (error_ && statement_) *error_ = sqlite3_errmsg(sqlite3_db_handle(statement_));
}

std::string CatalogueQuery::text(int column) const {
  if (!hasRow_ || column < 0 || column >= sqlite3_column_count(statement_)) return {};
  const unsigned char* text = sqlite3_column_text(statement_, column);
  if (!text) return {};
  return Utf8ToLocal(reinterpret_cast<const char*>(text));
}

long long CatalogueQuery::count() const {
  if (!statement_) return -1;
  std::string_view sql = sqlite3_sql(statement_);
  size_t from = FindTopLevelFrom(sql);
  if (from == std::string_view::npos) return -1;
  std::string countSql = "select count(*) ";
  countSql += sql.substr(from);
  sqlite3_stmt* count = nullptr;
  long long result = -1;
  if (sqlite3_prepare_v2(sqlite3_db_handle(statement_), countSql.c_str(), -1, &count, nullptr) ==
          SQLITE_OK &&
      count && sqlite3_step(count) == SQLITE_ROW) {
    result = sqlite3_column_int64(count, 0);
  } else {
    noteError();
  }
  sqlite3_finalize(count);
  return result;
}

void CatalogueQuery::close() {
  sqlite3_finalize(statement_);
  statement_ = nullptr;
  hasRow_ = false;
  stepFailed_ = false;
}

// ---- CatalogueDb ----

CatalogueDb::CatalogueDb(AppState& app, Clock* clock)
    : app_(app), clock_(clock ? *clock : app.platform.clock()) {}

CatalogueDb::~CatalogueDb() {
  closeCatalogue();
  release();
}

CatalogueDb::Claim CatalogueDb::claim(const std::string& path) {
  release();
  // flock, not a lock inside SQLite: it must hold while the file itself is replaced.
  const std::string lockPath = CatalogueFile(path) + ".lock";
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Claim::kNoLockFile;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Claim::kHeldElsewhere;
  }
  claimFd_ = fd;
  return Claim::kClaimed;
}

void CatalogueDb::release() {
  if (claimFd_ < 0) return;
  ::close(claimFd_);
  claimFd_ = -1;
}

bool CatalogueDb::createCatalogue(const std::string& path) {
  {
    std::lock_guard lock(app_.catalogueLock);
    // Writing under a live connection would leave it reading pages of the old file.
    closeCatalogue();
    path_ = CatalogueFile(path);
    const std::string& image = TemplateImage();
    if (image.empty()) {
      lastError_ = "the empty catalogue could not be built";
    } else {
      // A journal or write-ahead log left by an interrupted task would be played
      // back into the new file.
      for (const char* suffix : {"-journal", "-wal", "-shm"}) std::remove((path_ + suffix).c_str());
      // A new file renamed over the name: whatever was there, a symbolic link
      // included, is replaced, and nothing a link points to is written. The mode is
      // the usual one (0666 less the umask).
      if (ReplaceFile(path_, image, 0666)) return true;
      lastError_ = std::error_code(errno, std::generic_category()).message();
    }
  }
  logFailure(L8("无法创建检查数据库 "), "");
  return false;
}

bool CatalogueDb::openCatalogue(const std::string& path) {
  std::unique_lock lock(app_.catalogueLock);
  closeCatalogue();
  path_ = CatalogueFile(path);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    lastError_ = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    lock.unlock();
    logFailure(L8("无法打开检查数据库 "), "");
    return false;
  }
  failures_ = 0;
  // A catalogue that cannot take these still works: it is slower, or its task
  // cannot be resumed.
  sqlite3_exec(db, kDurability, nullptr, nullptr, nullptr);
  sqlite3_exec(db, kWorkingIndexes, nullptr, nullptr, nullptr);
  sqlite3_exec(db, kTaskTable, nullptr, nullptr, nullptr);
  db_ = db;
  return true;
}

void CatalogueDb::closeCatalogue() {
  std::lock_guard lock(app_.catalogueLock);
  // Back to the template's rollback journal, so that the file left behind reads as
  // any SQLite file does, without a log beside it. Refused while another
  // connection reads the file; it then stays as it is, which is as good.
  if (db_) sqlite3_exec(db_, "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr);
  // close_v2: a result set still open keeps the handle alive until it is closed,
  // instead of the close failing and the connection leaking.
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool CatalogueDb::executeStatement(std::string_view sql) {
  if (!db_) {
    lastError_ = kNotOpen;
    return false;
  }
  int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  for (int retry = 0; rc == SQLITE_ERROR && retry < kBeginRetries; ++retry) {
    clock_.sleepFor(kBeginRetryWait);
    rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    lastError_ = sqlite3_errmsg(db_);
    return false;
  }
  const std::string utf8 = LocalToUtf8(sql);
  if (sqlite3_exec(db_, utf8.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
      sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
    return true;
  }
  lastError_ = sqlite3_errmsg(db_);
  // Statements before the failing one must not stay: the caller retries the whole
  // text, which would insert their rows a second time.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

bool CatalogueDb::executeLogged(std::string_view sql) {
  bool ok;
  {
    std::lock_guard lock(app_.catalogueLock);
    ok = executeStatement(sql);
  }
  // Outside catalogueLock: it and errorLogLock are never held together.
  if (!ok) AppendErrorLine(app_, sql);
  return ok;
}

CatalogueQuery CatalogueDb::queryRows(std::string_view sql) {
  if (!db_) {
    lastError_ = kNotOpen;
    return {};
  }
  const std::string utf8 = LocalToUtf8(sql);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, utf8.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    lastError_ = sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    return {};
  }
  return CatalogueQuery(statement, &lastError_);
}

bool CatalogueDb::recordTask(const TaskRecord& record) {
  std::lock_guard lock(app_.catalogueLock);
  if (!db_ || sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    return false;
  bool ok = sqlite3_exec(db_, "DELETE FROM task;", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db_,
                                "INSERT INTO task (uk, folder, depth, phase, started) "
                                "VALUES (?1, ?2, ?3, ?4, ?5)",
                                -1, &insert, nullptr) == SQLITE_OK;
  if (ok) {
    // Bound, not quoted into the text: the folder is stored exactly as the service
    // names it, emoji and all, which local text could not hold.
    const std::string uk = LocalToUtf8(record.uk);
    const std::string folder = UnicodeToUtf8(record.folder);
    const std::string started = LocalToUtf8(record.startedAt);
    sqlite3_bind_text(insert, 1, uk.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, folder.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 3, record.depth);
    sqlite3_bind_text(insert, 4, PhaseName(record.phase), -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 5, started.c_str(), -1, SQLITE_TRANSIENT);
    ok = sqlite3_step(insert) == SQLITE_DONE;
  }
  sqlite3_finalize(insert);
  if (ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  lastError_ = sqlite3_errmsg(db_);
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

bool CatalogueDb::recordPhase(TaskPhase phase) {
  std::lock_guard lock(app_.catalogueLock);
  return executeStatement(std::string("UPDATE task SET phase='") + PhaseName(phase) +
                          "' WHERE listing IS NULL;");
}

std::optional<StoredTask> ReadStoredTask(const std::string& path) {
  // Read-write, without creating: a log left by a killed program can only be
  // completed by a connection that may write. Not through a symbolic link, which
  // would lead that write to another file.
  sqlite3* db = nullptr;
  std::optional<StoredTask> stored;
  if (sqlite3_open_v2(CatalogueFile(path).c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) == SQLITE_OK)
    stored = ReadTask(db);
  sqlite3_close_v2(db);
  return stored;
}

bool CatalogueDb::retry(const std::function<bool()>& attempt,
                        const std::function<bool()>& stopped) {
  for (int tries = 1;; ++tries) {
    if (attempt()) return true;
    if (tries >= kCatalogueTries) break;
    if (stopped && stopped()) return false;
    clock_.sleepFor(kCatalogueRetryWait);
  }
  ++failures_;
  logFailure(L8("检查数据库 "),
             L8(" 读写失败（已试 ") + std::to_string(kCatalogueTries) + L8(" 次）"));
  return false;
}

std::pair<std::string, std::string> CatalogueDb::failedFileAndWhy() {
  std::string path;
  std::string error;
  {
    std::lock_guard lock(app_.catalogueLock);
    path = path_.empty() ? std::string(kCatalogueFileName) : path_;
    error = lastError_;
  }
  // The catalogue lives in the current directory by default: its full path says where.
  std::error_code ec;
  if (std::filesystem::path full = std::filesystem::absolute(path, ec); !ec) path = full.string();
  return {path, error};
}

std::string CatalogueDb::lastFailure() {
  auto [path, error] = failedFileAndWhy();
  return Utf8ToLocal(path) + L8("：") + Utf8ToLocal(error);
}

void CatalogueDb::logFailure(std::string_view before, std::string_view after) {
  auto [path, error] = failedFileAndWhy();
  // The log pane, not only err.txt: the person at the window (or the command line's
  // stderr) learns which file failed and why.
  AppendLog(
      app_,
      std::string(before) + Utf8ToLocal(path) + std::string(after) + L8("：") + Utf8ToLocal(error),
      LocalToUtf8(before) + path + LocalToUtf8(after) + "：" + error);
}

std::string StoredName(std::string_view listed) {
  return EncodeEntities(EncodeEntities(listed));
}

std::u16string NetdiskPathOfStored(std::string_view stored) {
  return DecodeUnicodeEscapes(DecodeEntities(DecodeEntities(stored)));
}

CatalogueDb& Catalogue(AppState& app) {
  std::lock_guard lock(app.catalogueLock);
  if (!app.catalogue) app.catalogue = std::make_shared<CatalogueDb>(app);
  return *app.catalogue;
}

// ---- Statements ----

namespace {

constexpr const char* kInsertInto =
    "INSERT INTO list "
    "('folder','filename','order','type','time','size','ordersign','queried','count','lowernum',"
    "'target') ";

// The values of an entry's row, in the column order of kInsertInto, `queried` "0".
std::string EntryValues(const CatalogueRow& row) {
  std::string values;
  for (const std::string* value :
       {&row.folder, &row.filename, &row.order, &row.type, &row.time, &row.size, &row.ordersign}) {
    values += Quote(*value);
    values += ',';
  }
  values += "'0',";
  values += Quote(row.count) + ',' + Quote(row.lowernum) + ',' + Quote(row.target);
  return values;
}

}  // namespace

std::string InsertEntryStatement(const CatalogueRow& row) {
  return kInsertInto + std::string("VALUES (") + EntryValues(row) + ");";
}

std::string InsertNewEntryStatement(const CatalogueRow& row) {
  return kInsertInto + std::string("SELECT ") + EntryValues(row) +
         " WHERE NOT EXISTS (SELECT 1 FROM list WHERE target=" + Quote(row.target) + ");";
}

std::string NextFolderQuery() {
  return "select * from list where type='1' and queried='0'";
}

std::string MarkFolderQueriedStatement(long long id) {
  return "UPDATE list  SET queried='1' WHERE id=" + std::to_string(id) + ";";
}

std::string TakeFolderStatement(long long id) {
  return MarkFolderQueriedStatement(id) + "INSERT INTO task (listing) VALUES (" +
         std::to_string(id) + ");";
}

std::string FolderListedStatement(long long id) {
  return "DELETE FROM task WHERE listing=" + std::to_string(id) + ";";
}

std::string ReopenUnlistedFoldersStatement() {
  return "UPDATE list SET queried='0' WHERE type='1' AND id IN "
         "(SELECT listing FROM task WHERE listing IS NOT NULL);"
         "DELETE FROM task WHERE listing IS NOT NULL;";
}

std::string UncheckedRowsQuery() {
  static const std::string text =
      L8("select * from list where other_1 is null or other_1='检查中'");
  return text;
}

std::string FolderRowsQuery() {
  static const std::string text = "select * from list where type='1'";
  return text;
}

std::string UncheckedRangeQuery(long long from, long long to) {
  static const std::string head =
      L8("select * from list where (other_1 is null or other_1='检查中') and id>");
  return head + std::to_string(from) + " and id<=" + std::to_string(to) + ";";
}

std::string MarkBlockedStatement(std::string_view fsId) {
  static const std::string head = L8("update list set other_1='已和谐' where target=");
  return head + Quote(fsId) + ";";
}

std::string RowByTargetQuery(std::string_view fsId) {
  return "select * from list where target=" + Quote(fsId) + ";";
}

std::string MarkNormalStatement(std::string_view fsId) {
  static const std::string head = L8("update list set other_1='正常' where target=");
  return head + Quote(fsId) + ";";
}

std::string RowCountsQuery() {
  static const std::string text =
      L8("select count(*), count(case when other_1 in ('正常','已和谐') then 1 end), "
         "count(case when other_1='已和谐' then 1 end), max(id) from list");
  return text;
}

std::string BlockedRowsQuery() {
  static const std::string text =
      L8("select target, folder from list where other_1='已和谐' order by id");
  return text;
}

}  // namespace pansift
