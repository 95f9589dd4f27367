// The controller of the scan-and-check task: validates the settings and starts a
// task on the folder selected in the tree, hands over from the pre-read phase to
// the check phase, posts the check batches, reports progress and the summary, and
// stops and pauses the running task.
//
// The controller alone owns the task's state (idle, scanning, checking, stopping)
// and its number; the buttons only ask it. The stop's and the pause's waits keep
// the UI's events flowing, so any click may arrive in the middle of them: each
// handler looks at the state again after its wait and changes nothing that belongs
// to a later state or to another task. 按钮_开始检查 is disabled while a task runs;
// after a stop it is enabled again while the task's threads drain, and no new task
// may start until they have ended, so two tasks never share the catalogue. The end
// of a task enables it and resets the pause.
//
// A task records itself in its catalogue (account, folder, depth, phase, start), so
// a task that did not run to its end can be resumed from there: the folders not yet
// listed are listed, the rows not yet marked are checked, and the summary counts
// the whole task.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "core/worker_threads.h"
#include "pipeline/catalogue_db.h"
#include "pipeline/task_context.h"

namespace pansift {

class FolderTree;

/// The folder the tree's selection stands for.
struct SelectedPath {
  std::u16string unicodePath;  // "/" and the names from the top folder down; "/" for the root
  std::string path;            // the same as local text
  bool isFolder = false;       // a folder node or the account root
};

/// The Netdisk path of the tree's selected node: empty without a selection; the
/// account root node stands for "/".
SelectedPath SelectedTreePath(const FolderTree& tree);

/// A tree path in the form the folder listing takes: entities encoded once, and
/// characters local text cannot hold written as "\u" escapes.
std::string ListingPathOf(std::u16string_view unicodePath);

/// What a start does with a task that the catalogue holds unfinished for the same
/// account, folder and depth.
enum class ResumeChoice {
  kAsk,     // asks whether to resume it (the window); no answer in 15 s is No
  kResume,  // resumes it
  kAnew,    // starts anew without asking
};

/// How a start ended.
enum class StartOutcome { kRefused, kStartedAnew, kResumed };

class CheckTask {
 public:
  /// `onBlockedFile` is told about every blocked file found; `cataloguePath` is the
  /// catalogue file (empty: vintrel.db in the current directory). Makes the worker
  /// pool when start-up has not made it yet.
  CheckTask(AppState& app, MainForm& form, const FolderTree& tree, BlockedFileHandler onBlockedFile,
            std::string cataloguePath = {});
  CheckTask(const CheckTask&) = delete;
  CheckTask& operator=(const CheckTask&) = delete;
  /// Stops a running task and waits until its threads and pool tasks have ended.
  ~CheckTask();

  // The handlers (UI thread).
  /// 按钮_开始检查 and the tree menu's "开始检测选中目录". After the checks of the
  /// settings, `choice` decides whether a task the catalogue holds unfinished for
  /// the same account, folder and depth is resumed; otherwise the catalogue is made
  /// anew.
  StartOutcome startCheck(ResumeChoice choice = ResumeChoice::kAsk);
  /// 按钮_停止检查.
  void stopCheck();
  /// 按钮_暂停检查: "暂停" pauses, "继续" resumes.
  void togglePause();

  /// Whether a started task's threads or pool tasks are still at work.
  bool active() const;
  /// The catalogue file of the tasks started from now on (empty: vintrel.db in the
  /// current directory). Only while no task is active.
  void setCataloguePath(std::string path) { cataloguePath_ = std::move(path); }
  const std::string& cataloguePath() const { return cataloguePath_; }
  /// Waits up to `timeout` for the task's threads to end and the pool to be idle;
  /// true when they have.
  bool waitFor(std::chrono::milliseconds timeout);

  TaskContext& context() { return context_; }

 private:
  /// The scan thread: resolves the selection again, records the task and starts the
  /// top-level crawl.
  void runScanTask();
  /// The scan thread of a resumed task: goes on from the phase it had reached.
  void resumeScanTask();
  /// The unfinished task the catalogue holds for this account, folder and depth.
  std::optional<StoredTask> unfinishedTask(const std::u16string& folder) const;
  /// At the start of a resumed task's check phase: lists and counts the blocked
  /// files its earlier runs found, and returns the rows they marked and the highest
  /// id, so that the phase counts the whole task. Nothing when the catalogue could
  /// not be read (the log says why).
  struct EarlierWork {
    long long marked = 0;
    long long lastId = 0;
  };
  std::optional<EarlierWork> takeUpEarlierWork();
  /// The check phase, on the dispatcher thread once the pre-read phase has ended.
  void runCheckPhase();
  /// The end of a task that reached the check phase.
  void finishTask();
  /// A start refused after the button was claimed: the button is enabled again.
  void refuseStart(std::string_view message);
  /// The task's work is over without a check phase.
  void endWithoutCheck();
  /// The task's work is over: back to idle, the pause reset and 按钮_开始检查 enabled.
  void endTask();
  /// Runs work on a thread of the task numbered now. A thread that cannot be made, or
  /// whose work ends by an exception, abandons the task.
  void startTaskThread(std::function<void()> work);
  /// Task `number` cannot go on: the rest of it drains as after a stop, the catalogue
  /// is let go and 按钮_开始检查 is free again. Nothing once another task runs.
  void abandonTask(std::uint64_t number);

  enum class State { kIdle, kScanning, kChecking, kStopping };
  // With stateMutex_ held: whether a task scans or checks (so it can be paused and
  // stopped), and whether that task is the one numbered `number`.
  bool running() const;
  bool running(std::uint64_t number) const;

  AppState& app_;
  MainForm& form_;
  const FolderTree& tree_;
  std::string cataloguePath_;
  TaskContext context_;
  // Also held while the pause caption changes, so that it always matches the state.
  mutable std::mutex stateMutex_;
  State state_ = State::kIdle;
  // Counts the tasks started: a handler that waited knows whether its task is still the one.
  std::uint64_t taskNumber_ = 0;
  // The task record of the task started last: written by startCheck while no task
  // runs, read by its threads.
  TaskRecord record_;
  long long resumedRows_ = 0;
  // Last, so it is joined first: its threads use everything above.
  WorkerThreads threads_;
};

}  // namespace pansift
