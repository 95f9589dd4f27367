#include "pipeline/crawler.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "core/app_state.h"
#include "core/log.h"
#include "core/main_form.h"
#include "core/platform.h"
#include "netdisk/listing.h"
#include "pipeline/catalogue_db.h"
#include "pipeline/worker_pool.h"
#include "tree/tree_operations.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"
#include "util/time.h"

namespace pansift {
namespace {

constexpr std::chrono::milliseconds kEntryPace{5};
constexpr std::chrono::milliseconds kDispatchPace{20};
constexpr std::chrono::milliseconds kPushRetry{10};
constexpr int kTakeTries = 100;
constexpr std::chrono::milliseconds kTakeRetry{5};

// How many INSERT statements go into one transaction, by how full the page is.
size_t InsertGroupSize(size_t entriesOnPage) {
  if (entriesOnPage < 20) return 10;
  if (entriesOnPage < 50) return 20;
  if (entriesOnPage < 100) return 30;
  return 50;
}

// A level as two digits at least: 1 -> "01", 10 -> "10".
std::string TwoDigits(int level) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", level);
  return text;
}

std::string ThreeDigits(size_t position) {
  char text[24];
  std::snprintf(text, sizeof text, "%03zu", position);
  return text;
}

CatalogueRow EntryRow(const NetdiskEntry& entry, size_t position, std::string_view level,
                      const std::string& childLevel, std::string_view positionKey) {
  CatalogueRow row;
  row.folder = StoredName(entry.path);
  row.filename = StoredName(entry.serverFilename);
  row.order = std::string(level);
  row.type = entry.isdir ? "1" : "0";
  row.time = FormatLocalTime();
  row.size = entry.size;
  row.ordersign = std::string(positionKey) + ThreeDigits(position);
  row.count = std::to_string(position);
  row.lowernum = childLevel;
  row.target = entry.fsId;
  return row;
}

enum class PageWrite { kWritten, kGivenUp, kStopped };

// Writes one group of INSERT statements, trying again while it fails (every failed
// attempt leaves the text in err.txt) as CatalogueDb::retry allows.
PageWrite FlushInserts(TaskContext& task, const std::string& batch) {
  if (task.catalogue.retry([&] { return task.catalogue.executeLogged(batch); },
                           [&task] { return RetriesEnd(task); })) {
    return PageWrite::kWritten;
  }
  return StopSeen(task.app) ? PageWrite::kStopped : PageWrite::kGivenUp;
}

// Catalogues one page of a folder's entries, in groups of statements. A stop drops
// the statements gathered but not yet run; a group the catalogue would not take
// (the log says why) ends the page.
PageWrite CataloguePage(TaskContext& task, const std::vector<NetdiskEntry>& entries,
                        std::string_view level, const std::string& childLevel,
                        std::string_view positionKey) {
  AppState& app = task.app;
  const size_t groupSize = InsertGroupSize(entries.size());
  std::string batch;
  size_t pending = 0;
  for (size_t i = 1; i <= entries.size(); ++i) {
    WaitWhilePaused(app);
    if (StopSeen(app)) return PageWrite::kStopped;
    {
      std::lock_guard lock(app.catalogueLock);
      ++app.prereadCount;
    }
    const CatalogueRow row = EntryRow(entries[i - 1], i, level, childLevel, positionKey);
    // A resumed task may list a folder again whose listing was cut short.
    batch += task.resumed.load() ? InsertNewEntryStatement(row) : InsertEntryStatement(row);
    if (++pending >= groupSize) {
      if (const PageWrite written = FlushInserts(task, batch); written != PageWrite::kWritten)
        return written;
      batch.clear();
      pending = 0;
    }
    WaitPumping(app.platform, kEntryPace);
    ProcessEvents(app.platform);
  }
  return batch.empty() ? PageWrite::kWritten : FlushInserts(task, batch);
}

struct FolderRow {
  std::string id, folder, ordersign, count, lowernum;
};

// The next folder row not yet taken, in id order: an empty id when there is none;
// nothing when the catalogue could not be read (the log says why) or the task
// ended while trying.
std::optional<FolderRow> NextFolderRow(TaskContext& task) {
  FolderRow row;
  const bool read = task.catalogue.retry(
      [&] {
        std::lock_guard lock(task.app.catalogueLock);
        CatalogueQuery query = task.catalogue.queryRows(NextFolderQuery());
        row = {};
        if (query.step()) {
          row.id = query.text(kColId);
          row.folder = query.text(kColFolder);
          row.ordersign = query.text(kColOrdersign);
          row.count = query.text(kColCount);
          row.lowernum = query.text(kColLowernum);
        }
        return !query.failed();
      },
      [&task] { return RetriesEnd(task); });
  if (!read) return std::nullopt;
  return row;
}

// Marks a folder row as taken, noting that its listing has begun; false when that
// could not be written.
bool MarkFolderTaken(TaskContext& task, const std::string& id) {
  const std::string mark = TakeFolderStatement(std::strtoll(id.c_str(), nullptr, 10));
  return task.catalogue.retry([&] { return task.catalogue.executeLogged(mark); },
                              [&task] { return RetriesEnd(task); });
}

// The note of a folder whose listing has ended goes. One try, and nothing logged:
// a note that stays only makes a resumed task list the folder again, which adds
// no entry twice.
void NoteFolderListed(TaskContext& task, std::string_view id) {
  const std::string sql = FolderListedStatement(std::strtoll(std::string(id).c_str(), nullptr, 10));
  std::lock_guard lock(task.app.catalogueLock);
  task.catalogue.executeStatement(sql);
}

}  // namespace

// ---- FolderQueue ----

bool FolderQueue::push(std::string item) {
  if (!waiting_.insert(item).second) return false;
  items_.push_back(std::move(item));
  return true;
}

std::optional<std::string> FolderQueue::pop() {
  if (items_.empty()) return std::nullopt;
  std::string item = std::move(items_.front());
  items_.pop_front();
  waiting_.erase(item);
  return item;
}

void FolderQueue::clear() {
  items_.clear();
  waiting_.clear();
}

FolderQueue& FolderQueueOf(AppState& app) {
  std::lock_guard lock(app.folderQueueLock);
  if (!app.folderQueue) app.folderQueue = std::make_shared<FolderQueue>();
  return *app.folderQueue;
}

std::string FolderItem(std::string_view id, std::string_view count, std::string_view storedFolder,
                       std::string_view lowernum, std::string_view ordersign) {
  std::string item(id);
  item += kFolderItemSeparator;
  item += count;
  item += kFolderItemSeparator;
  item += DecodeEntities(storedFolder);
  item += kFolderItemSeparator;
  item += lowernum;
  item += kFolderItemSeparator;
  item += ordersign;
  return item;
}

// ---- the crawl ----

bool CrawlFolder(TaskContext& task, std::string_view folderPath, std::string_view level,
                 std::string_view positionKey, bool topLevel) {
  AppState& app = task.app;
  if (StopSeen(app)) return false;
  const int levelNumber = ParseBoxNumber(level);
  const std::string childLevel = TwoDigits(levelNumber + 1);
  const int depth = ParseBoxNumber(app.depthText.get());
  if (depth > 0 && levelNumber > depth) return false;
  if (folderPath.empty()) return false;

  static const std::string kProgress = L8("正在预读取文件，已完成数量：");
  for (int page = 1;; ++page) {
    WaitWhilePaused(app);
    if (StopSeen(app)) return false;
    const std::string reply =
        ListFolderPage(app, task.account, ReadSortOrder(task.form), folderPath, page);
    if (reply.empty()) {
      // Given up after its tries (err.txt has the last reply): the folder's entries
      // from this page on are not in the catalogue, and the task's result says so.
      task.failedFolders.add(DecodeUnicodeEscapes(DecodeEntities(folderPath)));
      break;
    }
    const std::vector<NetdiskEntry> entries = ReadEntries(reply);
    if (entries.empty()) break;

    const PageWrite written = CataloguePage(task, entries, level, childLevel, positionKey);
    if (written == PageWrite::kStopped) return false;
    {
      std::lock_guard lock(app.catalogueLock);
      SetStatus(app, kProgress + std::to_string(app.prereadCount.load()));
    }
    // Only a full page can be followed by another. A page the catalogue would not
    // take ends the folder, not the task: the rest is still dispatched and checked.
    if (written == PageWrite::kGivenUp || entries.size() < static_cast<size_t>(kFolderPageSize))
      break;
  }

  if (topLevel) {
    task.catalogue.recordPhase(TaskPhase::kCrawl);
    task.startThread([&task] { DispatchFolders(task); });
  }
  return true;
}

void DispatchFolders(TaskContext& task) {
  AppState& app = task.app;
  FolderQueue& queue = task.folders;
  // Cleared when the catalogue fails to give or take a folder row: handing out rows
  // then ends, so a failing catalogue costs one round of tries, not one per pass.
  bool takingRows = true;
  while (!task.closing.load()) {
    WaitPumping(app.platform, kDispatchPace);
    const bool idle = task.pool.isIdle();
    bool noneLeft = !takingRows;
    // At most one crawl task waits in the pool at a time.
    if (takingRows && task.pool.queuedCount() < 1) {
      std::optional<FolderRow> row = NextFolderRow(task);
      if (!row || row->id.empty()) {
        noneLeft = true;
        takingRows = row.has_value();
      } else if (!MarkFolderTaken(task, row->id)) {
        noneLeft = true;
        takingRows = false;
      } else {
        if (task.closing.load()) break;
        const std::string item =
            FolderItem(row->id, row->count, row->folder, row->lowernum, row->ordersign);
        for (;;) {
          {
            std::lock_guard lock(app.folderQueueLock);
            if (queue.push(item)) break;
          }
          // Released while waiting: the crawl task that takes the equal item needs it.
          WaitPumping(app.platform, kPushRetry);
          ProcessEvents(app.platform);
        }
        task.pool.post([&task](std::int32_t, std::int32_t) { CrawlTask(task); }, 0, 0, "预读目录");
      }
      ProcessEvents(app.platform);
    }
    // Idle before the query and no row found: no crawl task can add rows any more.
    if (idle && noneLeft) break;
  }
  if (task.closing.load()) return;
  // Every folder is listed: a resumed task goes on with the check. Not after a
  // stop, which leaves folders unlisted, nor when the catalogue failed to hand
  // them out.
  if (takingRows && !app.stopRequested.load()) task.catalogue.recordPhase(TaskPhase::kCheck);
  SetStatus(app, L8("正在开启检查任务"));
  if (task.afterDispatch) task.afterDispatch();
}

void CrawlTask(TaskContext& task) {
  AppState& app = task.app;
  std::optional<std::string> item;
  {
    std::lock_guard lock(app.folderQueueLock);
    for (int tries = 0; tries < kTakeTries; ++tries) {
      item = task.folders.pop();
      if (item) break;
      WaitPumping(app.platform, kTakeRetry);
      ProcessEvents(app.platform);
    }
  }
  if (!item) return;
  // The path is the one field a name reaches, so it is what lies between the second
  // separator and the last two: the id and count before it and the levels after it
  // are digits.
  const std::string_view text = *item;
  const std::string_view sep = kFolderItemSeparator;
  const size_t first = text.find(sep);
  if (first == std::string_view::npos) return;
  const size_t second = text.find(sep, first + sep.size());
  const size_t last = text.rfind(sep);
  if (second == std::string_view::npos || last <= second) return;
  const size_t middle = text.rfind(sep, last - 1);
  if (middle <= second || middle == std::string_view::npos) return;
  const bool listed =
      CrawlFolder(task, text.substr(second + sep.size(), middle - second - sep.size()),
                  text.substr(middle + sep.size(), last - middle - sep.size()),
                  text.substr(last + sep.size()), false);
  // Listed, failed for good, or beyond the depth limit: the folder needs no listing
  // again. Stopped: a resumed task lists it again.
  if (listed || !app.stopRequested.load()) NoteFolderListed(task, text.substr(0, first));
}

}  // namespace pansift
