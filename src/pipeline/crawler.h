// The pre-read phase of the scan-and-check task: the selected folder is listed
// page by page into the catalogue on a thread of its own; every folder row found is
// then handed, one at a time, by the dispatcher to a crawl task on the worker pool,
// until no folder row is left and the pool is idle. The dispatcher thread then goes
// on with the check phase.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "pipeline/task_context.h"

namespace pansift {

/// The hand-over from the dispatcher to the crawl tasks: a first-in first-out queue
/// of folder items. Not locked itself: callers hold AppState::folderQueueLock.
class FolderQueue {
 public:
  /// Appends `item`; refused (false) while an equal item still waits.
  bool push(std::string item);
  /// Takes the oldest item.
  std::optional<std::string> pop();
  size_t size() const { return items_.size(); }
  void clear();

 private:
  std::deque<std::string> items_;
  std::unordered_set<std::string> waiting_;
};

/// The process's folder queue (AppState::folderQueue), made on first use.
FolderQueue& FolderQueueOf(AppState& app);

/// The separator of a folder item's fields.
inline constexpr const char* kFolderItemSeparator = "-|||||-";

/// The item of one folder row: its id, count, the stored folder decoded once,
/// lowernum and ordersign, joined by kFolderItemSeparator.
std::string FolderItem(std::string_view id, std::string_view count, std::string_view storedFolder,
                       std::string_view lowernum, std::string_view ordersign);

/// Lists one folder and catalogues its entries. `folderPath` is in the form
/// ListFolderPage takes; `level` the folder's two-digit level ("01" for the selected
/// folder); `positionKey` its ordersign (empty for the selected folder). At the top
/// level, when the listing is complete, records the task's crawl phase and starts
/// the dispatcher thread. Returns false
/// when it stopped before the end (a stop, or a folder beyond the depth limit or
/// without a path); then no dispatcher was started. A folder whose listing failed
/// (TaskContext::failedFolders) or whose entries the catalogue would not take (the
/// log says why) ends early but counts as listed.
bool CrawlFolder(TaskContext& task, std::string_view folderPath, std::string_view level,
                 std::string_view positionKey, bool topLevel);

/// The dispatcher thread: hands each folder row not yet taken to a crawl task until
/// none is left while the pool is idle, records that the task has reached its check
/// phase unless it was stopped, then runs task.afterDispatch.
void DispatchFolders(TaskContext& task);

/// A pool routine: takes one folder item from the queue (up to 100 tries 5 ms apart)
/// and crawls that folder. Unless a stop cut the listing short, the catalogue then
/// notes that the folder's listing has ended.
void CrawlTask(TaskContext& task);

}  // namespace pansift
