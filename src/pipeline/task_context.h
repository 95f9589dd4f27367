// What the routines of one scan-and-check task share: the shared record, the
// window's settings, the account the task acts for, the pool, the catalogue and the
// folder queue, the hand-overs between the task's threads, and the pause and stop
// points every routine uses.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/credentials.h"
#include "core/log.h"
#include "core/platform.h"
#include "util/codepage.h"

namespace pansift {

class MainForm;
class WorkerPool;
class CatalogueDb;
class FolderQueue;

/// Called for every blocked file the check finds: the task's account, whose file it
/// is, its fs_id and its path as the catalogue stores it (local text, entity-encoded
/// twice).
using BlockedFileHandler = std::function<void(const Credentials& account, const std::string& fsId,
                                              const std::string& path)>;

/// A blocked file an earlier run of a resumed task found: its fs_id and its path as
/// the catalogue stores it.
struct MarkedBlockedFile {
  std::string fsId;
  std::string path;
};
/// Called once when a resumed task's check phase begins, with every file the
/// catalogue holds as blocked (no request is made for them), and the task's account.
using EarlierBlockedHandler =
    std::function<void(const Credentials& account, const std::vector<MarkedBlockedFile>& files)>;

/// The folders whose listing failed for good during a task (after ListFolderPage's
/// tries): the service's paths, in the order they failed. Their entries, from the
/// failed page on, are missing from the catalogue. Shared by the crawl threads.
class FailedFolders {
 public:
  void add(std::u16string path) {
    std::lock_guard lock(mutex_);
    paths_.push_back(std::move(path));
  }
  std::vector<std::u16string> list() const {
    std::lock_guard lock(mutex_);
    return paths_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    paths_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::u16string> paths_;
};

struct TaskContext {
  AppState& app;
  MainForm& form;
  WorkerPool& pool;
  CatalogueDb& catalogue;
  FolderQueue& folders;
  BlockedFileHandler onBlockedFile;
  /// Runs work on a task thread of its own (the crawl of the selected folder, the
  /// dispatcher) and returns at once.
  std::function<void(std::function<void()>)> startThread;
  /// Runs on the dispatcher thread once no folder is left to list: the check phase
  /// and the end of the task.
  std::function<void()> afterDispatch;
  /// The account operating when the task's start was accepted. Every request of the
  /// task carries its login, whichever account operates meanwhile. Written only
  /// while no task runs.
  Credentials account{};
  /// Lists the blocked files a resumed task's earlier runs found; none when empty.
  EarlierBlockedHandler onEarlierBlockedFiles{};
  /// The task continues one an earlier run left unfinished in the catalogue: the
  /// catalogue's rows stay, and an entry already catalogued is not added again.
  std::atomic<bool> resumed{false};
  /// The program is ending: the dispatch loops leave at once.
  std::atomic<bool> closing{false};
  /// What a front end shows of the check phase: the rows it checks (-1 until it
  /// begins), the rows found blocked or normal so far, and at its end the rows left
  /// undecided.
  std::atomic<long long> checkTotal{-1};
  std::atomic<long long> checkedRows{0};
  std::atomic<long long> undecidedRows{0};
  /// How many of the checkTotal rows are folders (-1 until the check phase begins).
  std::atomic<long long> checkFolders{-1};
  /// UTF-8: the Netdisk path of the task's folder as it really is
  /// (AppState::selectedFolderPath is local text, which has no emoji).
  SharedText folderPath;
  FailedFolders failedFolders{};
};

/// While the task is paused, waits a second at a time (keeping the UI's events
/// flowing on the UI thread). A stop ends the wait: no pause outlasts its task.
inline void WaitWhilePaused(AppState& app) {
  while (app.paused.load() && !app.stopRequested.load()) {
    WaitPumping(app.platform, std::chrono::milliseconds(1000));
    ProcessEvents(app.platform);
  }
}

/// The status text of a stopped task (local text).
inline const std::string& StoppedText() {
  static const std::string text = L8("已手动停止。");
  return text;
}

/// When the task has been stopped: shows "已手动停止。" in the status bar; true then.
inline bool StopSeen(AppState& app) {
  if (!app.stopRequested.load()) return false;
  SetStatus(app, StoppedText());
  return true;
}

/// The `stopped` test of the task's catalogue retries (CatalogueDb::retry): a pause
/// holds them; a stop or the end of the program ends them.
inline bool RetriesEnd(TaskContext& task) {
  WaitWhilePaused(task.app);
  return StopSeen(task.app) || task.closing.load();
}

}  // namespace pansift
