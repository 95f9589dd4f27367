// Recording a file the checker found blocked: one row of the blocked-file list,
// and, when 选择框_删除文件 is ticked, its delete from the Netdisk at once.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "blocked/blocked_list.h"
#include "core/credentials.h"

namespace pansift {

struct AppState;
class MainForm;

/// The row for a blocked file whose path the catalogue stores as `storedPath` and
/// the service lists as `netdiskPath`: the shown path, name and location come from
/// the stored path as they always have (cut at the last "/", "\u" escapes decoded);
/// the deletes and moves of the row act on `netdiskPath`. With the task's start
/// stamp, the user name of `account` (the task's, whose file it is) and "待处理". A
/// file already listed (same fsid) is written again in place. Rows are written
/// under listLock.
BlockedRow BlockedRowFor(AppState& app, const Credentials& account, std::string_view fsid,
                         std::string_view storedPath, std::u16string_view netdiskPath);

/// A blocked file an earlier run of a resumed task found, as ListEarlierBlockedFiles
/// takes it: its fsid, its path as the catalogue stores it and as the service lists it.
struct EarlierBlockedFile {
  std::string fsid;
  std::string storedPath;
  std::u16string netdiskPath;
};

/// Lists the files an earlier run of a resumed task found blocked, as
/// RecordBlockedFile does but without asking the service anything: a file whose
/// fsid is listed already keeps its row as it is (what became of its delete), any
/// other gets a new row "待处理". Under listLock.
void ListEarlierBlockedFiles(AppState& app, BlockedList& list, const Credentials& account,
                             const std::vector<EarlierBlockedFile>& files);

/// Adds (or rewrites) the row; with 选择框_删除文件 ticked, deletes the file with
/// `account`'s login, one delete at a time across all checker workers (claims
/// fileOpBusy), followed by the delete interval of 编辑框_删除违规文件操作间隔.
/// Pause holds it; a stop ends it at once and leaves the row "待处理". Runs on the
/// checker's worker threads.
void RecordBlockedFile(AppState& app, const MainForm& form, BlockedList& list,
                       const Credentials& account, std::string_view fsid,
                       std::string_view storedPath, std::u16string_view netdiskPath);

}  // namespace pansift
