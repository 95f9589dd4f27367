// The two operations of the folder tree: refreshing the root of the operating
// account, and opening (listing) or folding a folder node. Both do their work on
// worker threads of the main window's WorkerThreads.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "netdisk/listing.h"
#include "tree/folder_tree.h"

namespace pansift {

struct AppState;
class MainForm;
class AccountStore;
class WorkerThreads;

/// What the status line offers as contact when the identity read finds no user
/// name (UTF-8; converted to local text where used).
inline constexpr const char* kSupportContact = "请到 PanSift 项目页面提交问题。";

/// How a root refresh ended.
enum class RefreshOutcome {
  kListed,       // the root folder is in the tree
  kNoAccount,    // no operating account and no account row
  kInvalid,      // the service does not accept the login
  kUnreachable,  // nothing came back from the service
  kFailed,       // the identity was read, the root listing failed
  kSuperseded,   // a later refresh took over; this one changed nothing
};

/// The root refresh, blocking (run it on a worker thread; the caller disables
/// 按钮1 before). Takes the first account row as operating account when there is
/// none, reads who the account is, empties the tree and lists the root folder
/// below one account node. Re-enables 按钮1 on every way out.
RefreshOutcome RefreshRootTree(AppState& app, MainForm& form, AccountStore& accounts,
                               FolderTree& tree);

/// The node worker, blocking: holds listLock for its whole run. A folder node
/// without children is listed page by page and expanded; a folded (collapsed)
/// loaded folder loses its children so that the next opening lists it anew;
/// anything else is left alone (all three kSuccess). kFolderGone or kFailed when a
/// page could not be listed.
ListingOutcome ListOrFoldNode(AppState& app, const MainForm& form, FolderTree& tree, NodeId node);

/// The handle of the last node-listing worker. At most one node listing runs at a
/// time; root refreshes are not limited.
class TreeListingThread {
 public:
  /// Whether the last node worker still runs; a finished one counts as idle.
  bool running() const;

 private:
  friend bool OpenOrFoldNode(AppState&, const MainForm&, FolderTree&, WorkerThreads&,
                             TreeListingThread&);
  mutable std::mutex mutex_;
  std::shared_ptr<std::atomic<bool>> running_;
};

/// The sort order chosen by the four radio buttons of the main window, as the
/// listing requests take it.
ListingOrder ReadSortOrder(const MainForm& form);

/// The click on 按钮1 after the caller disabled it, and an account switch: runs
/// RefreshRootTree on one of `workers` and returns at once.
void StartRootRefresh(AppState& app, MainForm& form, AccountStore& accounts, FolderTree& tree,
                      WorkerThreads& workers);

/// The UI half of the tree's node event: on the tree's selected node, starts
/// ListOrFoldNode on one of `workers` and records it in `listing`; while the last
/// node worker still runs, shows "当前有获取目录列表的任务，请等待完成后再获取。"
/// (5 s) instead. True when a worker was started.
bool OpenOrFoldNode(AppState& app, const MainForm& form, FolderTree& tree, WorkerThreads& workers,
                    TreeListingThread& listing);

}  // namespace pansift
