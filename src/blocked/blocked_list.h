// The blocked files found since the program started: the rows of the blocked-file
// window's list (超级列表框2) with the list's selection, and the state of that
// window's other controls (the move's target folder, enabled buttons, visibility).
// Nothing here is saved; the exports write it out.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"
#include "util/observable.h"

namespace pansift {

/// The columns of the blocked-file list, in order.
enum BlockedColumn : int {
  kBlockedOrdinal = 0,       // "序号": the row count right after the row was written
  kBlockedDetectedAt = 1,    // "检测时间": the start stamp of the task that found the file
  kBlockedName = 2,          // "文件名" (Unicode)
  kBlockedFsid = 3,          // "fsid": the key of a row
  kBlockedLocation = 4,      // "文件位置" (Unicode)
  kBlockedPath = 5,          // "path": the Netdisk path, "\u" escapes kept
  kBlockedAccount = 6,       // "所在网盘": the user name of the file's account
  kBlockedDeleteStatus = 7,  // "删除状态"
  kBlockedMoveStatus = 8,    // "移动状态"
  kBlockedColumnCount = 9,
};

struct BlockedColumnInfo {
  const char* header;  // UTF-8
  int width;           // pixels at 96 DPI
};
const std::array<BlockedColumnInfo, kBlockedColumnCount>& BlockedColumns();
/// Columns 2 and 4 hold Unicode text (characters outside GBK survive); the others
/// hold local text.
bool IsUnicodeColumn(int column);

/// Identifies a row for as long as it lives; never reused. 0 is no row.
using BlockedRowId = std::uint64_t;
inline constexpr BlockedRowId kNoBlockedRow = 0;

struct BlockedRow {
  BlockedRowId id = kNoBlockedRow;  // given by the list
  std::string ordinal;              // local text
  std::string detectedAt;
  std::u16string name;
  std::string fsid;
  std::u16string location;
  std::string path;
  std::string account;
  std::string deleteStatus;
  std::string moveStatus;
  /// The file's path exactly as the service names it: what the row's delete and
  /// move act on. Not a cell: the path cell keeps the text the list shows.
  std::u16string netdiskPath;

  /// A cell as Unicode text (local columns converted).
  std::u16string text(int column) const;
  /// A cell as local text (Unicode columns converted; characters outside GBK become "?").
  std::string localText(int column) const;
  /// Writes a cell given as Unicode text (local columns converted).
  void setText(int column, std::u16string_view text);
  /// Writes a local column; false for a Unicode column or a column out of range.
  bool setLocalText(int column, std::string text);
  bool sameCells(const BlockedRow& other) const;
};

struct BlockedChanged {
  // kRemovedRows: several rows went at once (`row` is none).
  enum class Kind { kAppended, kChanged, kRemoved, kRemovedRows, kCleared, kSelection };
  Kind kind;
  BlockedRowId row = kNoBlockedRow;
};

/// The rows top to bottom and the selected row.
///
/// Safe from any thread: an internal mutex is held only for the copy or the change
/// itself, so the UI thread never waits for a worker's network request. Workers that
/// make several changes which belong together hold AppState::listLock around them.
/// Rows are addressed by id, so a status written after a slow request lands on its
/// own row even when other rows were removed meanwhile.
class BlockedList : public Observable<BlockedChanged> {
 public:
  size_t size() const;
  std::vector<BlockedRow> rows() const;
  std::optional<BlockedRow> row(BlockedRowId id) const;
  std::vector<BlockedRowId> ids() const;

  /// Writes a blocked file: on the row whose fsid equals `row.fsid` exactly, or on a
  /// new row at the end. Every cell but the move status is written; the ordinal
  /// becomes the row count. Returns the row's id.
  BlockedRowId record(BlockedRow row);
  /// Appends a row with its cells as given. Returns its id.
  BlockedRowId append(BlockedRow row);
  /// Sets a local cell of a row; false when the row is gone or the column is not local.
  bool setCell(BlockedRowId id, int column, std::string text);
  bool remove(BlockedRowId id);
  /// Removes every row for which `match` holds, the others keeping their order, in
  /// one pass over the list and one kRemovedRows notice (none when nothing went).
  /// `match` runs with the list's mutex held and must not call the list. Returns how
  /// many rows went.
  int removeIf(const std::function<bool(const BlockedRow&)>& match);
  void clear();

  BlockedRowId selected() const;
  /// Selects a row; an unknown id clears the selection.
  void select(BlockedRowId id);

 private:
  int indexOf(BlockedRowId id) const;  // mutex_ held

  mutable std::mutex mutex_;
  std::vector<BlockedRow> rows_;
  BlockedRowId nextId_ = 1;
  BlockedRowId selected_ = kNoBlockedRow;
};

/// The buttons of the blocked-file window.
enum class BlockedButton : int {
  kClearDeleted,  // 按钮1 "清除已删除成功列表"
  kExportPaths,   // 按钮2 "导出path到txt"
  kExportNames,   // 按钮3 "导出文件名和文件位置到txt"
  kMove,          // 按钮4 "将上方文件移动到指定目录"
  kClearMoved,    // 按钮5 "清除已移动成功列表"
  kCount
};
/// The button's control name and caption (UTF-8).
const char* ControlName(BlockedButton button);
const char* Caption(BlockedButton button);

/// The default target folder of the move, "/a-已和谐文件列表" (UTF-8).
inline constexpr const char* kDefaultMoveFolder = "/a-已和谐文件列表";

struct BlockedFormChanged {
  enum class Kind { kTargetFolder, kEnabled, kVisible };
  Kind kind;
  int index = 0;  // the BlockedButton, for kEnabled
};

/// The blocked-file window's controls other than the list: the target folder box
/// (编辑框1), the buttons' enabled states and whether the window shows. The window
/// mirrors it; workers read and write it from any thread.
class BlockedForm : public Observable<BlockedFormChanged> {
 public:
  BlockedForm();

  /// 编辑框1, local text.
  std::string targetFolder() const;
  void setTargetFolder(std::string text);

  bool enabled(BlockedButton button) const;
  void setEnabled(BlockedButton button, bool enabled);
  /// Disables the button when it is enabled, in one step; true when this call did it.
  bool claim(BlockedButton button);

  bool visible() const;
  void setVisible(bool visible);

  /// The window that owns this window's prompts (0 until the front end sets it).
  WindowId window() const;
  void setWindow(WindowId window);

 private:
  mutable std::mutex mutex_;
  std::string targetFolder_;
  std::array<bool, static_cast<size_t>(BlockedButton::kCount)> enabled_{};
  bool visible_ = false;
  WindowId window_ = 0;
};

/// Holds a claimed button of the blocked-file window for one run of its action and
/// enables it again when the run ends, however it ends.
class ButtonHold {
 public:
  ButtonHold(BlockedForm& form, BlockedButton button) : form_(form), button_(button) {}
  ButtonHold(const ButtonHold&) = delete;
  ButtonHold& operator=(const ButtonHold&) = delete;
  ~ButtonHold();

 private:
  BlockedForm& form_;
  BlockedButton button_;
};

}  // namespace pansift
