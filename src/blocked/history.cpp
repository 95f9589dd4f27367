#include "blocked/history.h"

#include <sqlite3.h>

#include "blocked/blocked_actions.h"
#include "blocked/blocked_list.h"
#include "util/codepage.h"

namespace pansift {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS finding("
    " account TEXT NOT NULL, fs_id TEXT NOT NULL, path TEXT NOT NULL,"
    " first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL,"
    " state TEXT NOT NULL DEFAULT 'pending',"
    " PRIMARY KEY(account, fs_id)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS finding_last_seen ON finding(last_seen);";

// One prepared statement, finalized on every way out.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) {
    sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  // Texts bind to ?1.., numbers after them.
  void bind(const std::vector<std::string_view>& texts, const std::vector<long long>& numbers) {
    int index = 1;
    for (std::string_view text : texts)
      sqlite3_bind_text(statement_, index++, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
    for (long long number : numbers) sqlite3_bind_int64(statement_, index++, number);
  }
  int step() { return sqlite3_step(statement_); }
  std::string text(int column) const {
    const unsigned char* value = sqlite3_column_text(statement_, column);
    return value ? std::string(reinterpret_cast<const char*>(value),
                               static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string();
  }
  long long number(int column) const { return sqlite3_column_int64(statement_, column); }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

constexpr const char* kSelect =
    "SELECT account, fs_id, path, first_seen, last_seen, state FROM finding ";

Finding FindingOf(const Statement& row) {
  return {row.text(0), row.text(1), row.text(2), row.number(3), row.number(4), row.text(5)};
}

}  // namespace

std::string FindingState(const BlockedRow& row) {
  const auto is = [](const std::string& status, const char* utf8) { return status == L8(utf8); };
  const auto inProgress = [&is](const std::string& status) {
    return status.empty() || is(status, kStatusPending) || is(status, kStatusDeleting) ||
           is(status, kStatusMoving);
  };
  if (is(row.moveStatus, kStatusMoved)) return "moved";
  if (is(row.deleteStatus, kStatusDeleted) || is(row.deleteStatus, kStatusFileMissing))
    return "deleted";
  if (!inProgress(row.moveStatus)) return "move_failed";
  if (!inProgress(row.deleteStatus)) return "delete_failed";
  return "pending";
}

FindingsHistory::FindingsHistory(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    error_ = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    return;
  }
  // Several runs may write at once (a scheduled check beside the window): each
  // waits for the other's short transaction rather than failing.
  sqlite3_busy_timeout(db_, 10000);
  const std::string script =
      std::string("PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;") + kSchema;
  char* message = nullptr;
  if (sqlite3_exec(db_, script.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    sqlite3_close(db_);
    db_ = nullptr;
  }
}

FindingsHistory::~FindingsHistory() {
  sqlite3_close(db_);
}

std::string FindingsHistory::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

int FindingsHistory::run(std::string_view sql, const std::vector<std::string_view>& texts,
                         const std::vector<long long>& numbers) {
  if (!db_) return -1;
  Statement statement(db_, sql);
  if (statement.ok()) {
    statement.bind(texts, numbers);
    if (statement.step() == SQLITE_DONE) return sqlite3_changes(db_);
  }
  error_ = sqlite3_errmsg(db_);
  return -1;
}

FindingsHistory::Found FindingsHistory::recordFound(std::string_view account, std::string_view fsid,
                                                    std::string_view path, long long when) {
  std::lock_guard lock(mutex_);
  // The insert is one step for every writer, so only one run ever sees a file new.
  int inserted =
      run("INSERT OR IGNORE INTO finding(account, fs_id, path, first_seen, last_seen)"
          " VALUES(?1, ?2, ?3, ?4, ?4)",
          {account, fsid, path}, {when});
  if (inserted > 0) return Found::kNew;
  if (inserted == 0 && run("UPDATE finding SET path = ?3, last_seen = max(last_seen, ?4),"
                           " state = 'pending' WHERE account = ?1 AND fs_id = ?2",
                           {account, fsid, path}, {when}) > 0)
    return Found::kKnown;
  return Found::kFailed;
}

bool FindingsHistory::recordState(std::string_view account, std::string_view fsid,
                                  std::string_view state) {
  std::lock_guard lock(mutex_);
  return run("UPDATE finding SET state = ?3 WHERE account = ?1 AND fs_id = ?2",
             {account, fsid, state}, {}) >= 0;
}

std::optional<Finding> FindingsHistory::find(std::string_view account,
                                             std::string_view fsid) const {
  std::lock_guard lock(mutex_);
  if (!db_) return std::nullopt;
  Statement statement(db_, std::string(kSelect) + "WHERE account = ?1 AND fs_id = ?2");
  if (!statement.ok()) return std::nullopt;
  statement.bind({account, fsid}, {});
  if (statement.step() != SQLITE_ROW) return std::nullopt;
  return FindingOf(statement);
}

std::vector<Finding> FindingsHistory::list(std::string_view account, long long since) const {
  std::vector<Finding> findings;
  std::lock_guard lock(mutex_);
  if (!db_) return findings;
  Statement statement(db_, std::string(kSelect) +
                               "WHERE (?1 = '' OR account = ?1) AND last_seen >= ?2"
                               " ORDER BY first_seen, account, fs_id");
  if (!statement.ok()) return findings;
  statement.bind({account}, {since});
  while (statement.step() == SQLITE_ROW) findings.push_back(FindingOf(statement));
  return findings;
}

}  // namespace pansift
