#include "accounts/account_store.h"

#include "util/codepage.h"

namespace pansift {

namespace {

constexpr std::array<AccountColumnInfo, kAccountColumnCount> kColumns = {{
    {"序", 30},
    {"网盘用户名", 85},
    {"状态", 70},
    {"cookies", 55},
    {"uk", 30},
    {"bdstoken", 1},
}};

}  // namespace

const std::array<AccountColumnInfo, kAccountColumnCount>& AccountColumns() {
  return kColumns;
}

bool IsAccountColumn(int column) {
  return column >= 0 && column < kAccountColumnCount;
}

std::string AccountStatusText(AccountStatus status) {
  switch (status) {
    case AccountStatus::kImported:
      return L8("从记录导入");
    case AccountStatus::kAdded:
      return L8("刚添加");
    case AccountStatus::kUpdated:
      return L8("刚更新");
    case AccountStatus::kValidating:
      return L8("验证中");
    case AccountStatus::kValid:
      return L8("有效");
    case AccountStatus::kInvalid:
      return L8("已失效");
  }
  return {};
}

const std::string& AccountRecord::cell(int column) const {
  switch (column) {
    case kColumnOrdinal:
      return ordinal;
    case kColumnUserName:
      return userName;
    case kColumnStatus:
      return status;
    case kColumnCookies:
      return cookies;
    case kColumnUk:
      return uk;
    default:
      return bdstoken;
  }
}

std::string& AccountRecord::cell(int column) {
  return const_cast<std::string&>(static_cast<const AccountRecord&>(*this).cell(column));
}

// ---- AccountStore ------------------------------------------------------------------

int AccountStore::rowCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(rows_.size());
}

std::string AccountStore::cellText(int row, int column) const {
  std::lock_guard lock(mutex_);
  if (row < 0 || row >= static_cast<int>(rows_.size()) || !IsAccountColumn(column)) return {};
  return rows_[row].cell(column);
}

std::vector<AccountRecord> AccountStore::rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

AccountStore::Snapshot AccountStore::snapshot() const {
  std::lock_guard lock(mutex_);
  return {rows_, selected_};
}

int AccountStore::selectedRow() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

void AccountStore::setSelectedRow(int row) {
  {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) row = -1;
    if (selected_ == row) return;
    selected_ = row;
  }
  notify({AccountsChanged::Kind::kSelection, row});
}

int AccountStore::appendAccountRow(AccountRecord record) {
  int row;
  {
    std::lock_guard lock(mutex_);
    row = static_cast<int>(rows_.size());
    record.ordinal = std::to_string(row + 1);
    rows_.push_back(std::move(record));
  }
  notify({AccountsChanged::Kind::kAppended, row});
  return row;
}

int AccountStore::findLocked(const Key& key, int preferredRow) const {
  if (!IsAccountColumn(key.column)) return -1;
  const int count = static_cast<int>(rows_.size());
  if (preferredRow >= 0 && preferredRow < count && rows_[preferredRow].cell(key.column) == key.text)
    return preferredRow;
  for (int row = 0; row < count; ++row) {
    if (rows_[row].cell(key.column) == key.text) return row;
  }
  return -1;
}

std::vector<int> AccountStore::changeLocked(int row, const Change& change) {
  AccountRecord& record = rows_[row];
  AccountRecord before = record;
  change(record);
  record.ordinal = before.ordinal;
  std::vector<int> changed;
  for (int column = 0; column < kAccountColumnCount; ++column) {
    if (record.cell(column) != before.cell(column)) changed.push_back(column);
  }
  return changed;
}

void AccountStore::announceCells(int row, const std::vector<int>& columns) {
  for (int column : columns) notify({AccountsChanged::Kind::kCell, row, column});
}

int AccountStore::updateAccount(const Key& key, const Change& change, int preferredRow) {
  int row;
  std::vector<int> changed;
  {
    std::lock_guard lock(mutex_);
    row = findLocked(key, preferredRow);
    if (row < 0) return -1;
    changed = changeLocked(row, change);
  }
  announceCells(row, changed);
  return row;
}

std::pair<int, bool> AccountStore::updateOrAppendAccount(const Key& key, const Change& change,
                                                         AccountRecord added) {
  int row;
  bool appended = false;
  std::vector<int> changed;
  {
    std::lock_guard lock(mutex_);
    row = findLocked(key, -1);
    if (row < 0) {
      row = static_cast<int>(rows_.size());
      added.ordinal = std::to_string(row + 1);
      rows_.push_back(std::move(added));
      appended = true;
    } else {
      changed = changeLocked(row, change);
    }
  }
  if (appended) {
    notify({AccountsChanged::Kind::kAppended, row});
  } else {
    announceCells(row, changed);
  }
  return {row, appended};
}

std::optional<AccountRecord> AccountStore::updateRowAt(int row, const Change& change) {
  AccountRecord result;
  std::vector<int> changed;
  {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return std::nullopt;
    changed = changeLocked(row, change);
    result = rows_[row];
  }
  announceCells(row, changed);
  return result;
}

bool AccountStore::setAccountCell(int row, int column, std::string text) {
  {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()) || !IsAccountColumn(column)) return false;
    std::string& cell = rows_[row].cell(column);
    if (cell == text) return true;
    cell = std::move(text);
  }
  notify({AccountsChanged::Kind::kCell, row, column});
  return true;
}

bool AccountStore::removeRow(int row) {
  bool selectionMoved = false;
  {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    rows_.erase(rows_.begin() + row);
    if (selected_ == row) {
      selected_ = -1;
      selectionMoved = true;
    } else if (selected_ > row) {
      --selected_;
      selectionMoved = true;
    }
  }
  notify({AccountsChanged::Kind::kRemoved, row});
  if (selectionMoved) notify({AccountsChanged::Kind::kSelection, selectedRow()});
  return true;
}

int AccountStore::findAccountRow(std::string_view userName) const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].userName == userName) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace pansift
