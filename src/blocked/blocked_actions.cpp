#include "blocked/blocked_actions.h"

#include <array>
#include <mutex>
#include <optional>

#include "accounts/account_store.h"
#include "core/app_state.h"
#include "core/log.h"
#include "netdisk/file_operations.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift {
namespace {

std::optional<BlockedRow> SelectedRow(const BlockedList& list) {
  return list.row(list.selected());
}

void SetCell(AppState& app, BlockedList& list, BlockedRowId id, int column, std::string text) {
  std::lock_guard lock(app.listLock);
  list.setCell(id, column, std::move(text));
}

void ClearRows(AppState& app, BlockedList& list, BlockedForm& form, BlockedButton button,
               int column, const char* statusUtf8) {
  form.setEnabled(button, false);
  ButtonHold hold(form, button);
  const std::string status = L8(statusUtf8);
  {
    std::lock_guard lock(app.listLock);
    list.removeIf([&](const BlockedRow& row) { return row.localText(column) == status; });
  }
  WaitPumping(app.platform, std::chrono::milliseconds(500));
}

}  // namespace

std::string ReplyForStatus(std::string_view reply, bool trim) {
  std::string text = trim ? TrimText(reply) : std::string(reply);
  return ReplaceText(text, "\r\n", "");
}

const char* BlockedMenuItemText(BlockedMenuItem item) {
  static constexpr std::array<const char*, kBlockedMenuItemCount> kTexts = {
      "从网盘删除此文件_同步", "从网盘删除此文件_异步",
      "从网盘删除此文件_自动", "在浏览器打开文件所在目录",
      "从列表中删除此项目",    "复制文件名",
      "复制文件位置",          "复制path",
      "复制解码后的path",      "复制删除状态",
      "复制移动状态",          "导入表格数据",
      "导出表格数据"};
  return kTexts[static_cast<size_t>(item)];
}

bool BlockedMenuItemEnabled(BlockedMenuItem item) {
  return item != BlockedMenuItem::kDeleteAsync && item != BlockedMenuItem::kDeleteAuto;
}

bool BlockedMenuItemActsOnRow(BlockedMenuItem item) {
  return item != BlockedMenuItem::kImportTable && item != BlockedMenuItem::kExportTable;
}

bool SeparatorBefore(BlockedMenuItem item) {
  return item == BlockedMenuItem::kOpenInBrowser || item == BlockedMenuItem::kCopyName ||
         item == BlockedMenuItem::kImportTable;
}

Credentials CredentialsOf(const AccountStore& accounts, std::string_view userName) {
  // One snapshot, so cookie string and bdstoken come from the same row.
  std::vector<AccountRecord> rows = accounts.rows();
  for (const AccountRecord& row : rows) {
    if (row.userName == userName) return {row.userName, row.cookies, row.bdstoken};
  }
  return {};
}

std::string StatusOfAnsweredDelete(AppState& app, DeleteOutcome outcome) {
  switch (outcome) {
    case DeleteOutcome::kDeleted:
      AppendLog(app, L8(kDeletedLog));
      return L8(kStatusDeleted);
    case DeleteOutcome::kIdentityCheck:
      AppendLog(app, L8(kIdentityCheckLog));
      return L8(kStatusIdentityCheck);
    case DeleteOutcome::kFileMissing:
      // What the service said, and no more: the path may never have existed.
      return L8(kStatusFileMissing);
    case DeleteOutcome::kFailed:
      break;
  }
  return {};
}

void DeleteBlockedRowFromNetdisk(AppState& app, const AccountStore& accounts, BlockedList& list,
                                 BlockedRowId id, DeleteMode mode) {
  std::optional<BlockedRow> row = list.row(id);
  if (!row) return;
  SetCell(app, list, id, kBlockedDeleteStatus, L8(kStatusDeleting));
  const Credentials account = CredentialsOf(accounts, row->account);
  DeleteResult result = DeleteFile(app, account, row->netdiskPath, mode, DeleteVariant::kMenu);
  std::string status = StatusOfAnsweredDelete(app, result.outcome);
  if (status.empty()) {
    AppendLog(app, L8("文件删除失败了。原因：") + result.reply);
    status = L8("失败，code：") + std::to_string(result.httpStatus) + L8(" 结果：") +
             ReplyForStatus(result.reply, true);
  }
  SetCell(app, list, id, kBlockedDeleteStatus, status);
}

void OpenSelectedFolderInBrowser(AppState& app, const BlockedList& list) {
  std::optional<BlockedRow> row = SelectedRow(list);
  if (!row) return;
  std::string utf8 = UnicodeToUtf8(row->location);
  if (utf8.empty()) return;
  app.platform.openUrl(app.origins.netdisk +
                       "/disk/main#/index?category=all&path=" + UrlEncodeBytes(utf8, true));
}

void RemoveSelectedBlockedRow(AppState& app, BlockedList& list, const BlockedForm& form) {
  BlockedRowId id = list.selected();
  if (!list.row(id)) return;
  if (TimedMessageBox(app.platform, L8("提示"), L8("确定从列表中删除选中的项目？"),
                      kPromptTimeoutMs, kStyleYesNoQuestion, form.window()) != kIdYes) {
    return;
  }
  // The UI thread: the list's own lock keeps the removal whole; listLock may be held
  // by a worker across a network request.
  list.remove(id);
}

void CopyBlockedCell(AppState& app, const BlockedList& list, BlockedMenuItem item) {
  std::optional<BlockedRow> row = SelectedRow(list);
  if (!row) return;
  std::u16string text;
  switch (item) {
    case BlockedMenuItem::kCopyName:
      text = row->name;
      break;
    case BlockedMenuItem::kCopyLocation:
      text = row->location;
      break;
    case BlockedMenuItem::kCopyDeleteStatus:
      text = row->text(kBlockedDeleteStatus);
      break;
    case BlockedMenuItem::kCopyMoveStatus:
      text = row->text(kBlockedMoveStatus);
      break;
    case BlockedMenuItem::kCopyDecodedPath:
      text = CutAtTerminator(DecodeUnicodeEscapes(row->path));
      break;
    case BlockedMenuItem::kCopyPath:
      // The path as it stands, escapes and all, even when empty.
      app.platform.setClipboard(LocalToUnicode(row->path));
      return;
    case BlockedMenuItem::kDeleteSync:
    case BlockedMenuItem::kDeleteAsync:
    case BlockedMenuItem::kDeleteAuto:
    case BlockedMenuItem::kOpenInBrowser:
    case BlockedMenuItem::kRemoveFromList:
    case BlockedMenuItem::kImportTable:
    case BlockedMenuItem::kExportTable:
      return;  // not a copy item
  }
  if (!text.empty()) app.platform.setClipboard(std::move(text));
}

void ClearDeletedRows(AppState& app, BlockedList& list, BlockedForm& form) {
  ClearRows(app, list, form, BlockedButton::kClearDeleted, kBlockedDeleteStatus, kStatusDeleted);
}

void ClearMovedRows(AppState& app, BlockedList& list, BlockedForm& form) {
  ClearRows(app, list, form, BlockedButton::kClearMoved, kBlockedMoveStatus, kStatusMoved);
}

std::string NormaliseTargetFolder(std::string_view text) {
  std::string folder(text);
  if (folder.empty() || folder[0] != '/') folder.insert(0, "/");
  if (folder == "/") folder = L8(kDefaultMoveFolder);
  return folder;
}

void MoveListedFiles(AppState& app, const AccountStore& accounts, BlockedList& list,
                     BlockedForm& form) {
  form.setEnabled(BlockedButton::kMove, false);
  ButtonHold hold(form, BlockedButton::kMove);
  form.setTargetFolder(NormaliseTargetFolder(form.targetFolder()));

  std::u16string target;
  std::optional<std::string> checkedAccount;  // the account of the last folder check
  for (BlockedRowId id : list.ids()) {
    std::optional<BlockedRow> row = list.row(id);
    if (!row || row->moveStatus == L8(kStatusMoved)) continue;
    if (row->netdiskPath.empty()) {
      SetCell(app, list, id, kBlockedMoveStatus, L8(kStatusEmptyPath));
      continue;
    }
    const Credentials account = CredentialsOf(accounts, row->account);
    SetCell(app, list, id, kBlockedMoveStatus, L8(kStatusMoving));

    if (!checkedAccount || *checkedAccount != row->account) {
      checkedAccount = row->account;
      const std::string typed = form.targetFolder();
      target = LocalToUnicode(typed);
      FolderCheck check = CheckTargetFolder(app, account, typed);
      if (check.missing) {
        CreatedFolder created = CreateFolder(app, account, typed);
        if (!created.path.empty()) {
          // The service may have named the folder differently; its name is the one to use.
          target = created.path;
        } else {
          SetCell(app, list, id, kBlockedMoveStatus,
                  L8("创建目录失败，原因：") + ReplyForStatus(created.reply, false));
        }
      }
    }

    // The file keeps its own name, not the shown one.
    const std::u16string& path = row->netdiskPath;
    MoveResult moved = MoveFile(app, account, path, target,
                                std::u16string_view(path).substr(path.rfind(u'/') + 1));
    std::string status;
    switch (moved.outcome) {
      case MoveOutcome::kMoved:
        status = L8(kStatusMoved);
        break;
      case MoveOutcome::kFileMissing:
        status = L8(kStatusFileMissing);
        break;
      case MoveOutcome::kFailed:
        status = L8("失败，code:") + std::to_string(moved.httpStatus) +
                 " errno:" + moved.errnoText + " " + ReplyForStatus(moved.reply, false);
        break;
    }
    SetCell(app, list, id, kBlockedMoveStatus, status);
    WaitPumping(app.platform, std::chrono::seconds(1));
    ProcessEvents(app.platform);
  }
  TimedMessageBox(app.platform, L8("提示"), L8("移动完成！"), 10000, kStyleInformation,
                  form.window());
}

}  // namespace pansift
