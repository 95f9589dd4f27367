// The one process-wide record: the operating account, task flags and counters,
// the locks, the log pane and status bar, and the platform every part reports to.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "core/credentials.h"
#include "core/log.h"
#include "core/platform.h"
#include "core/program_dirs.h"
#include "core/service_origins.h"

namespace pansift {

class CatalogueDb;
class WorkerPool;
class FolderQueue;

/// A text shared between threads: written by one thread at a time, read by many.
class SharedText {
 public:
  std::string get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void set(std::string value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }

 private:
  mutable std::mutex mutex_;
  std::string value_;
};

struct AppState {
  /// Every file of the run in `programDir` (a file system path).
  AppState(Platform& platform, const std::string& programDir);
  AppState(Platform& platform, ProgramDirs dirs);
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;
  ~AppState();

  Platform& platform;
  const ProgramDirs dirs;
  const std::string versionText = "11129";

  /// Set once at start-up, before any worker runs; read freely afterwards.
  ServiceOrigins origins = OriginsFromEnvironment();

  std::atomic<bool> curlMode{false};
  std::atomic<int> screenDpi{96};

  // The operating account (local text): the one the tree shows and a new task takes.
  SharedText currentUserName;
  SharedText currentCookies;
  SharedText currentBdstoken;
  /// UTF-8: why the last identity read that reached nothing reached nothing (a CA
  /// file that cannot be used, a certificate that is not trusted, no connection).
  SharedText lastTransferError;
  /// Its uk when known (empty otherwise): which account a task's catalogue belongs to.
  SharedText currentUk;
  /// The operating account as one record, for work that keeps acting for it.
  Credentials operatingAccount() const;

  // The running task.
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> paused{false};
  std::atomic<bool> fileOpBusy{false};
  std::atomic<int> blockedCount{0};
  std::atomic<long long> prereadCount{0};
  SharedText taskStartedAt;       // "MM-dd HH:mm:ss"
  SharedText depthText;           // the depth box's text at task start
  SharedText selectedFolderPath;  // Netdisk path of the task's folder

  // Owned by the subsystems that define them; created when first needed.
  std::shared_ptr<CatalogueDb> catalogue;
  std::shared_ptr<WorkerPool> workerPool;
  std::shared_ptr<FolderQueue> folderQueue;

  // The sign cache of the download probe, under signLock, and the cookie string of
  // the login that fetched it.
  std::string signCacheSign;
  std::string signCacheTimestamp;
  std::string signCacheCookies;

  // Re-entrant locks. logLock may be taken while catalogueLock is held, never the
  // reverse; catalogueLock, errorLogLock and folderQueueLock are never held together.
  std::recursive_mutex listLock;
  std::recursive_mutex catalogueLock;
  std::recursive_mutex errorLogLock;
  std::recursive_mutex folderQueueLock;
  std::recursive_mutex signLock;
  std::recursive_mutex logLock;

  LogPane log;
  StatusBar status;

  /// `name` in the folder of settings, of saved data, of the run's state.
  std::string configFile(std::string_view name) const;
  std::string dataFile(std::string_view name) const;
  std::string stateFile(std::string_view name) const;
};

/// Appends `text` and CR LF to err.txt under errorLogLock; failures are ignored.
void AppendErrorLine(AppState& app, std::string_view text);
/// Empties err.txt (creating it when missing); failures are ignored.
void ResetErrorLog(AppState& app);

}  // namespace pansift
