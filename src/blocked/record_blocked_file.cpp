#include "blocked/record_blocked_file.h"

#include <mutex>
#include <unordered_set>

#include "blocked/blocked_actions.h"
#include "core/app_state.h"
#include "core/log.h"
#include "core/main_form.h"
#include "netdisk/file_operations.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift {
namespace {

// Pause holds the caller here; true when a stop was asked for.
bool WaitWhilePaused(AppState& app) {
  while (app.paused && !app.stopRequested) WaitPumping(app.platform, std::chrono::seconds(1));
  return app.stopRequested;
}

// Releases fileOpBusy on every way out of a delete on detection.
class FileOpClaim {
 public:
  explicit FileOpClaim(AppState& app) : app_(app) {}
  FileOpClaim(const FileOpClaim&) = delete;
  FileOpClaim& operator=(const FileOpClaim&) = delete;
  ~FileOpClaim() {
    if (held_) app_.fileOpBusy = false;
  }
  /// Waits until this thread holds fileOpBusy; false when a stop came first.
  bool acquire() {
    while (app_.fileOpBusy.exchange(true)) {
      if (app_.stopRequested) return false;
      WaitPumping(app_.platform, std::chrono::seconds(1));
    }
    held_ = true;
    return true;
  }

 private:
  AppState& app_;
  bool held_ = false;
};

void DeleteOnDetection(AppState& app, const MainForm& form, BlockedList& list,
                       const Credentials& account, BlockedRowId id, const std::u16string& path) {
  FileOpClaim claim(app);
  if (!claim.acquire()) return;
  bool stopped = false;
  auto gate = [&app, &stopped] {
    stopped = WaitWhilePaused(app);
    return !stopped;
  };
  DeleteResult result =
      DeleteFile(app, account, path, DeleteMode::kSync, DeleteVariant::kOnDetection, gate);
  if (stopped) return;  // the row keeps "待处理"
  std::string status = StatusOfAnsweredDelete(app, result.outcome);
  if (status.empty()) {
    AppendLog(app, L8("文件删除失败了。原因：") + result.reply);
    status = L8("删除失败，原因：") + ReplyForStatus(result.reply, true);
  }
  {
    std::lock_guard lock(app.listLock);
    list.setCell(id, kBlockedDeleteStatus, status);
  }
  int seconds = ParseBoxNumber(form.text(FormText::kDeleteInterval));
  for (int i = 0; i < seconds; ++i) {
    if (WaitWhilePaused(app)) break;
    WaitPumping(app.platform, std::chrono::seconds(1));
  }
}

}  // namespace

BlockedRow BlockedRowFor(AppState& app, const Credentials& account, std::string_view fsid,
                         std::string_view storedPath, std::u16string_view netdiskPath) {
  BlockedRow row;
  row.path = StripEntityWords(storedPath);
  row.netdiskPath = std::u16string(netdiskPath);
  row.detectedAt = app.taskStartedAt.get();
  row.name = CutAtTerminator(DecodeUnicodeEscapes(TextRightOf(row.path, "/", 0)));
  row.fsid = std::string(fsid);
  std::string folder = TextLeftOf(row.path, "/", -1);
  row.location = folder.empty() ? u"/" : CutAtTerminator(DecodeUnicodeEscapes(folder));
  row.account = account.userName;
  row.deleteStatus = L8(kStatusPending);
  return row;
}

void ListEarlierBlockedFiles(AppState& app, BlockedList& list, const Credentials& account,
                             const std::vector<EarlierBlockedFile>& files) {
  std::lock_guard lock(app.listLock);
  std::unordered_set<std::string> listed;
  for (const BlockedRow& row : list.rows()) listed.insert(row.fsid);
  for (const EarlierBlockedFile& file : files) {
    if (!listed.insert(file.fsid).second) continue;
    list.record(BlockedRowFor(app, account, file.fsid, file.storedPath, file.netdiskPath));
  }
}

void RecordBlockedFile(AppState& app, const MainForm& form, BlockedList& list,
                       const Credentials& account, std::string_view fsid,
                       std::string_view storedPath, std::u16string_view netdiskPath) {
  BlockedRow row = BlockedRowFor(app, account, fsid, storedPath, netdiskPath);
  BlockedRowId id;
  {
    std::lock_guard lock(app.listLock);
    id = list.record(std::move(row));
  }
  if (!form.deleteFiles()) return;
  DeleteOnDetection(app, form, list, account, id, std::u16string(netdiskPath));
}

}  // namespace pansift
