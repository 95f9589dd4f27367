// The actions of the blocked-file window: the menu "已和谐文件列表菜单" (delete from
// the Netdisk, open in the browser, remove from the list, copy a cell) and the
// buttons that clear rows and move the listed files into one folder.
#pragma once

#include <string>
#include <string_view>

#include "blocked/blocked_list.h"
#include "core/credentials.h"
#include "netdisk/file_operations.h"

namespace pansift {

struct AppState;
class AccountStore;

// Status and log texts (UTF-8).
inline constexpr const char* kStatusPending = "待处理";
inline constexpr const char* kStatusDeleting = "删除中";
inline constexpr const char* kStatusDeleted = "删除成功";
inline constexpr const char* kStatusIdentityCheck = "需要身份安全验证";
inline constexpr const char* kStatusFileMissing = "文件不存在";
inline constexpr const char* kStatusMoving = "移动中";
inline constexpr const char* kStatusMoved = "移动成功";
inline constexpr const char* kStatusEmptyPath = "path不能为空";
inline constexpr const char* kDeletedLog = "文件删除成功。";
inline constexpr const char* kIdentityCheckLog =
    "删除文件需要验证您的身份。请通过浏览器手动删除任意一个文件，通过身份证验证后，软件即可自动删除"
    "成功。";

/// A reply as it goes into a status text: every CR LF pair removed, and with `trim`
/// the blanks at both ends first.
std::string ReplyForStatus(std::string_view reply, bool trim);

/// The delete status (local text) of a delete the service carried out, held for an
/// identity check (both with their log line) or found no file for; "" for a failed
/// delete, which each kind of delete words its own way.
std::string StatusOfAnsweredDelete(AppState& app, DeleteOutcome outcome);

/// The items of the pop-up menu "已和谐文件列表菜单", in order (separators are not items).
enum class BlockedMenuItem : int {
  kDeleteSync,        // "从网盘删除此文件_同步"
  kDeleteAsync,       // "从网盘删除此文件_异步" (greyed)
  kDeleteAuto,        // "从网盘删除此文件_自动" (greyed)
  kOpenInBrowser,     // "在浏览器打开文件所在目录"
  kRemoveFromList,    // "从列表中删除此项目"
  kCopyName,          // "复制文件名"
  kCopyLocation,      // "复制文件位置"
  kCopyPath,          // "复制path"
  kCopyDecodedPath,   // "复制解码后的path"
  kCopyDeleteStatus,  // "复制删除状态"
  kCopyMoveStatus,    // "复制移动状态"
  kImportTable,       // "导入表格数据"
  kExportTable,       // "导出表格数据"
};
inline constexpr int kBlockedMenuItemCount = 13;
/// The item's text (UTF-8).
const char* BlockedMenuItemText(BlockedMenuItem item);
/// Only the synchronous delete can be chosen; the other two are shown greyed.
bool BlockedMenuItemEnabled(BlockedMenuItem item);
/// The item acts on the selected row (and does nothing without one); the import and
/// the export act on the whole list.
bool BlockedMenuItemActsOnRow(BlockedMenuItem item);
/// A separator stands before this item.
bool SeparatorBefore(BlockedMenuItem item);

/// The login of the first account row whose user name equals `userName` exactly;
/// all empty when there is none.
Credentials CredentialsOf(const AccountStore& accounts, std::string_view userName);

/// Deletes the row's file from the Netdisk with the row's own account (worker
/// thread): "删除中", then the outcome in the delete status and, but for a missing
/// file, the log. The menu offers only DeleteMode::kSync. Nothing when the row is
/// gone.
void DeleteBlockedRowFromNetdisk(AppState& app, const AccountStore& accounts, BlockedList& list,
                                 BlockedRowId row, DeleteMode mode);

/// Opens the selected row's folder on the Netdisk web page in the browser.
void OpenSelectedFolderInBrowser(AppState& app, const BlockedList& list);

/// Asks, then removes the selected row from the list (nothing on the Netdisk).
void RemoveSelectedBlockedRow(AppState& app, BlockedList& list, const BlockedForm& form);

/// Puts the cell the copy item names on the clipboard; nothing without a selection.
/// Columns 2, 4, 7, 8 and the decoded path leave the clipboard alone when empty.
void CopyBlockedCell(AppState& app, const BlockedList& list, BlockedMenuItem item);

/// 按钮1 and 按钮5 (worker thread; the caller claimed the button): removes every
/// row whose delete status is "删除成功", or whose move status is "移动成功".
void ClearDeletedRows(AppState& app, BlockedList& list, BlockedForm& form);
void ClearMovedRows(AppState& app, BlockedList& list, BlockedForm& form);

/// The move's target folder made usable: a leading "/" added, and the bare "/"
/// replaced by the default folder.
std::string NormaliseTargetFolder(std::string_view text);

/// 按钮4 (worker thread; the caller claimed the button): moves every listed file not
/// moved yet into the folder of 编辑框1, each with its row's account; the folder is
/// checked, and created when missing, once for every change of account in row order.
void MoveListedFiles(AppState& app, const AccountStore& accounts, BlockedList& list,
                     BlockedForm& form);

}  // namespace pansift
