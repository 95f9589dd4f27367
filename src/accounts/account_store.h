// The accounts the program works with: the ordered rows of the account list. The
// file they are saved to is in account_file.h, the list's menu in account_actions.h.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/observable.h"

namespace pansift {

/// The columns of the account list, in order.
enum AccountColumn : int {
  kColumnOrdinal = 0,
  kColumnUserName = 1,
  kColumnStatus = 2,
  kColumnCookies = 3,
  kColumnUk = 4,
  kColumnBdstoken = 5,
  kAccountColumnCount = 6,
};

struct AccountColumnInfo {
  const char* header;  // UTF-8
  int width;           // pixels at 96 DPI
};
/// Headers and widths of the six columns: "序" 30, "网盘用户名" 85, "状态" 70,
/// "cookies" 55, "uk" 30, "bdstoken" 1 (present but practically hidden).
const std::array<AccountColumnInfo, kAccountColumnCount>& AccountColumns();
/// Whether `column` is one of the six columns.
bool IsAccountColumn(int column);

/// The texts of the status column.
enum class AccountStatus { kImported, kAdded, kUpdated, kValidating, kValid, kInvalid };
/// "从记录导入", "刚添加", "刚更新", "验证中", "有效", "已失效" as local text.
std::string AccountStatusText(AccountStatus status);

/// One account, one row of the list. Every text is local text; absent is "".
struct AccountRecord {
  std::string ordinal;   // the row count right after the row was inserted
  std::string userName;  // "user" in the file
  std::string status;    // not saved
  std::string cookies;   // the cookie string as a browser sends it
  std::string uk;
  std::string bdstoken;

  const std::string& cell(int column) const;
  std::string& cell(int column);
  bool operator==(const AccountRecord&) const = default;
};

struct AccountsChanged {
  enum class Kind { kAppended, kCell, kRemoved, kSelection };
  Kind kind;
  int row = -1;
  int column = -1;  // kCell only
};

/// The rows of the account list, top to bottom, and the list's selection.
///
/// Every operation is safe from any thread (an internal mutex, held only for the
/// copy or the change itself). Workers that make several updates which belong
/// together (a validation, the tree's account update) hold AppState::listLock around
/// them; the UI thread never takes listLock, so it never waits on a worker's network
/// request. Changes are announced on the thread that made them.
class AccountStore : public Observable<AccountsChanged> {
 public:
  struct Snapshot {
    std::vector<AccountRecord> rows;
    int selectedRow = -1;
  };

  int rowCount() const;
  /// The text of a cell; "" when row or column is out of range.
  std::string cellText(int row, int column) const;
  std::vector<AccountRecord> rows() const;
  /// Rows and selection taken together.
  Snapshot snapshot() const;

  /// The selected row, or -1.
  int selectedRow() const;
  /// Selects a row; -1 or a row out of range clears the selection.
  void setSelectedRow(int row);

  /// Inserts a row at the end; its ordinal becomes the new row count. Returns the
  /// row's index.
  int appendAccountRow(AccountRecord record);

  /// Which row an update is for: the first whose `column` holds `text` exactly.
  struct Key {
    int column;
    std::string text;
  };
  using Change = std::function<void(AccountRecord&)>;
  /// Finds the row `key` names and applies `change` to it in one step: a row
  /// removed or added meanwhile cannot move the change onto another account, and
  /// no copy of the rows sees it half done. `preferredRow` is taken when it holds
  /// the key (two rows may share one). The ordinal is kept. Returns the row
  /// changed, or -1 when no row holds the key.
  int updateAccount(const Key& key, const Change& change, int preferredRow = -1);
  /// updateAccount, or, when no row holds the key, appends `added` in the same
  /// step. Returns the row and whether it was appended.
  std::pair<int, bool> updateOrAppendAccount(const Key& key, const Change& change,
                                             AccountRecord added);
  /// Applies `change` to the row at `row` and returns the row as changed; nullopt
  /// when there is no such row.
  std::optional<AccountRecord> updateRowAt(int row, const Change& change);
  /// Sets one cell; false when row or column is out of range.
  bool setAccountCell(int row, int column, std::string text);
  /// Removes a row; the other rows keep their ordinals. A selected row that is
  /// removed leaves no selection; a selection below it moves up with its row.
  bool removeRow(int row);
  /// The first row whose user name equals `userName` as a whole text, or -1.
  int findAccountRow(std::string_view userName) const;

 private:
  // Under mutex_: the row `key` names, -1 when none.
  int findLocked(const Key& key, int preferredRow) const;
  // Under mutex_: applies `change` to a row; the columns it changed.
  std::vector<int> changeLocked(int row, const Change& change);
  void announceCells(int row, const std::vector<int>& columns);

  mutable std::mutex mutex_;
  std::vector<AccountRecord> rows_;
  int selected_ = -1;
};

}  // namespace pansift
