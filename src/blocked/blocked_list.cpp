#include "blocked/blocked_list.h"

#include <algorithm>
#include <cstddef>

#include "util/codepage.h"

namespace pansift {
namespace {

constexpr std::array<BlockedColumnInfo, kBlockedColumnCount> kColumns = {{
    {"序号", 40},
    {"检测时间", 100},
    {"文件名", 150},
    {"fsid", 50},
    {"文件位置", 120},
    {"path", 50},
    {"所在网盘", 80},
    {"删除状态", 80},
    {"移动状态", 80},
}};

// The field of a local or a Unicode column, const or not as the row is; nullptr
// when the column is of the other kind or out of range.
template <class Row>
auto LocalField(Row& row, int column) -> decltype(&row.path) {
  switch (column) {
    case kBlockedOrdinal:
      return &row.ordinal;
    case kBlockedDetectedAt:
      return &row.detectedAt;
    case kBlockedFsid:
      return &row.fsid;
    case kBlockedPath:
      return &row.path;
    case kBlockedAccount:
      return &row.account;
    case kBlockedDeleteStatus:
      return &row.deleteStatus;
    case kBlockedMoveStatus:
      return &row.moveStatus;
    default:
      return nullptr;
  }
}

template <class Row>
auto UnicodeField(Row& row, int column) -> decltype(&row.name) {
  if (column == kBlockedName) return &row.name;
  if (column == kBlockedLocation) return &row.location;
  return nullptr;
}

}  // namespace

const std::array<BlockedColumnInfo, kBlockedColumnCount>& BlockedColumns() {
  return kColumns;
}

bool IsUnicodeColumn(int column) {
  return column == kBlockedName || column == kBlockedLocation;
}

std::u16string BlockedRow::text(int column) const {
  if (const std::u16string* unicode = UnicodeField(*this, column)) return *unicode;
  if (const std::string* local = LocalField(*this, column)) return LocalToUnicode(*local);
  return {};
}

std::string BlockedRow::localText(int column) const {
  if (const std::u16string* unicode = UnicodeField(*this, column)) return UnicodeToLocal(*unicode);
  if (const std::string* local = LocalField(*this, column)) return *local;
  return {};
}

void BlockedRow::setText(int column, std::u16string_view text) {
  if (std::u16string* unicode = UnicodeField(*this, column)) {
    *unicode = std::u16string(text);
  } else if (std::string* local = LocalField(*this, column)) {
    *local = UnicodeToLocal(text);
  }
}

bool BlockedRow::setLocalText(int column, std::string text) {
  std::string* local = LocalField(*this, column);
  if (!local) return false;
  *local = std::move(text);
  return true;
}

bool BlockedRow::sameCells(const BlockedRow& o) const {
  return ordinal == o.ordinal && detectedAt == o.detectedAt && name == o.name && fsid == o.fsid &&
         location == o.location && path == o.path && account == o.account &&
         deleteStatus == o.deleteStatus && moveStatus == o.moveStatus;
}

// ---- BlockedList ---------------------------------------------------------------------

size_t BlockedList::size() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

std::vector<BlockedRow> BlockedList::rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::optional<BlockedRow> BlockedList::row(BlockedRowId id) const {
  std::lock_guard lock(mutex_);
  int index = indexOf(id);
  if (index < 0) return std::nullopt;
  return rows_[static_cast<size_t>(index)];
}

std::vector<BlockedRowId> BlockedList::ids() const {
  std::lock_guard lock(mutex_);
  std::vector<BlockedRowId> out;
  out.reserve(rows_.size());
  for (const BlockedRow& r : rows_) out.push_back(r.id);
  return out;
}

int BlockedList::indexOf(BlockedRowId id) const {
  if (id == kNoBlockedRow) return -1;
  // Ids grow from top to bottom (rows are only ever appended), so a binary search finds it.
  auto it = std::lower_bound(rows_.begin(), rows_.end(), id,
                             [](const BlockedRow& r, BlockedRowId value) { return r.id < value; });
  if (it == rows_.end() || it->id != id) return -1;
  return static_cast<int>(it - rows_.begin());
}

BlockedRowId BlockedList::record(BlockedRow row) {
  BlockedChanged change{BlockedChanged::Kind::kChanged};
  {
    std::lock_guard lock(mutex_);
    BlockedRow* target = nullptr;
    for (BlockedRow& existing : rows_) {
      if (existing.fsid == row.fsid) {
        target = &existing;
        break;
      }
    }
    if (!target) {
      row.id = nextId_++;
      row.moveStatus.clear();
      rows_.push_back(std::move(row));
      target = &rows_.back();
      change.kind = BlockedChanged::Kind::kAppended;
    } else {
      row.id = target->id;
      row.moveStatus = target->moveStatus;
      *target = std::move(row);
    }
    target->ordinal = std::to_string(rows_.size());
    change.row = target->id;
  }
  notify(change);
  return change.row;
}

BlockedRowId BlockedList::append(BlockedRow row) {
  BlockedRowId id;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    row.id = id;
    rows_.push_back(std::move(row));
  }
  notify({BlockedChanged::Kind::kAppended, id});
  return id;
}

bool BlockedList::setCell(BlockedRowId id, int column, std::string text) {
  {
    std::lock_guard lock(mutex_);
    int index = indexOf(id);
    if (index < 0 || IsUnicodeColumn(column)) return false;
    BlockedRow& r = rows_[static_cast<size_t>(index)];
    if (r.localText(column) == text) return true;
    if (!r.setLocalText(column, std::move(text))) return false;
  }
  notify({BlockedChanged::Kind::kChanged, id});
  return true;
}

bool BlockedList::remove(BlockedRowId id) {
  bool unselected = false;
  {
    std::lock_guard lock(mutex_);
    int index = indexOf(id);
    if (index < 0) return false;
    rows_.erase(rows_.begin() + index);
    if (selected_ == id) {
      selected_ = kNoBlockedRow;
      unselected = true;
    }
  }
  notify({BlockedChanged::Kind::kRemoved, id});
  if (unselected) notify({BlockedChanged::Kind::kSelection, kNoBlockedRow});
  return true;
}

int BlockedList::removeIf(const std::function<bool(const BlockedRow&)>& match) {
  size_t removed = 0;
  bool unselected = false;
  {
    std::lock_guard lock(mutex_);
    // Asked first, so that a `match` that throws leaves the list as it was; the
    // moves that close the gaps cannot throw.
    std::vector<char> gone(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) gone[i] = match(rows_[i]) ? 1 : 0;
    size_t kept = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
      if (gone[i]) {
        unselected = unselected || rows_[i].id == selected_;
        continue;
      }
      if (kept != i) rows_[kept] = std::move(rows_[i]);
      ++kept;
    }
    removed = rows_.size() - kept;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(kept), rows_.end());
    if (unselected) selected_ = kNoBlockedRow;
  }
  if (removed == 0) return 0;
  notify({BlockedChanged::Kind::kRemovedRows});
  if (unselected) notify({BlockedChanged::Kind::kSelection, kNoBlockedRow});
  return static_cast<int>(removed);
}

void BlockedList::clear() {
  {
    std::lock_guard lock(mutex_);
    rows_.clear();
    selected_ = kNoBlockedRow;
  }
  notify({BlockedChanged::Kind::kCleared});
}

BlockedRowId BlockedList::selected() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

void BlockedList::select(BlockedRowId id) {
  {
    std::lock_guard lock(mutex_);
    if (indexOf(id) < 0) id = kNoBlockedRow;
    if (selected_ == id) return;
    selected_ = id;
  }
  notify({BlockedChanged::Kind::kSelection, id});
}

// ---- BlockedForm ---------------------------------------------------------------------

const char* ControlName(BlockedButton button) {
  static constexpr std::array<const char*, static_cast<size_t>(BlockedButton::kCount)> kNames = {
      "按钮1", "按钮2", "按钮3", "按钮4", "按钮5"};
  return kNames[static_cast<size_t>(button)];
}

const char* Caption(BlockedButton button) {
  static constexpr std::array<const char*, static_cast<size_t>(BlockedButton::kCount)> kTexts = {
      "清除已删除成功列表", "导出path到txt", "导出文件名和文件位置到txt",
      "将上方文件移动到指定目录", "清除已移动成功列表"};
  return kTexts[static_cast<size_t>(button)];
}

BlockedForm::BlockedForm() : targetFolder_(L8(kDefaultMoveFolder)) {
  enabled_.fill(true);
}

std::string BlockedForm::targetFolder() const {
  std::lock_guard lock(mutex_);
  return targetFolder_;
}

void BlockedForm::setTargetFolder(std::string text) {
  setAndNotify(mutex_, targetFolder_, std::move(text), {BlockedFormChanged::Kind::kTargetFolder});
}

bool BlockedForm::enabled(BlockedButton button) const {
  std::lock_guard lock(mutex_);
  return enabled_[static_cast<size_t>(button)];
}

void BlockedForm::setEnabled(BlockedButton button, bool enabled) {
  setAndNotify(mutex_, enabled_[static_cast<size_t>(button)], enabled,
               {BlockedFormChanged::Kind::kEnabled, static_cast<int>(button)});
}

bool BlockedForm::claim(BlockedButton button) {
  // Only the call that finds the button enabled changes it.
  return setAndNotify(mutex_, enabled_[static_cast<size_t>(button)], false,
                      {BlockedFormChanged::Kind::kEnabled, static_cast<int>(button)});
}

bool BlockedForm::visible() const {
  std::lock_guard lock(mutex_);
  return visible_;
}

void BlockedForm::setVisible(bool visible) {
  {
    std::lock_guard lock(mutex_);
    // Showing is announced every time, so a window already shown comes to the front.
    if (visible_ == visible && !visible) return;
    visible_ = visible;
  }
  notify({BlockedFormChanged::Kind::kVisible});
}

WindowId BlockedForm::window() const {
  std::lock_guard lock(mutex_);
  return window_;
}

void BlockedForm::setWindow(WindowId window) {
  std::lock_guard lock(mutex_);
  window_ = window;
}

ButtonHold::~ButtonHold() {
  try {
    form_.setEnabled(button_, true);
  } catch (...) {
    // Only the window's mirror can fail here (no memory to post its update).
  }
}

}  // namespace pansift
