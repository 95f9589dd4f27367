// The main window's event table: every user action on the window enters here and
// is handed to the operation of its subsystem. The widgets (platform/qt) only
// forward events to these handlers and mirror the models.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "accounts/login_flow.h"
#include "blocked/blocked_actions.h"
#include "blocked/blocked_list.h"
#include "blocked/history.h"
#include "core/worker_threads.h"
#include "pipeline/check_task.h"
#include "tree/folder_tree.h"
#include "tree/tree_operations.h"

namespace pansift {

struct AppState;
class MainForm;
class AccountStore;

/// The items of the account list's pop-up menu "cookies操作", in order (the
/// separator between kDelete and kCopyUserName is not an item).
enum class AccountMenuItem : int {
  kSwitch,            // "切换操作cookies为当前选中"
  kValidateSelected,  // "验证或刷新当前选中cookies有效性"
  kValidateAll,       // "验证或刷新所有cookies有效性"
  kDelete,            // "删除当前选中"
  kCopyUserName,      // "复制网盘名"
  kCopyCookies,       // "复制cookies"
  kCopyUk,            // "复制uk"
};
inline constexpr int kAccountMenuItemCount = 7;
/// The item's text (UTF-8).
const char* AccountMenuItemText(AccountMenuItem item);

class MainWindow {
 public:
  MainWindow(AppState& app, MainForm& form, AccountStore& accounts);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  /// Waits for the account loader (it only reads one small file) and for the action
  /// workers. A worker that waits for a prompt needs the UI thread: a front end whose
  /// event loop has ended calls waitForWorkers first, while its widgets still live.
  ~MainWindow();

  AppState& app() { return app_; }
  MainForm& form() { return form_; }
  AccountStore& accounts() { return accounts_; }
  /// The folder tree of the operating account (树型框1 mirrors it).
  FolderTree& tree() { return tree_; }
  /// The scan-and-check task's controller (its worker pool exists from start-up).
  CheckTask& checkTask() { return checkTask_; }
  /// The blocked files found since start (超级列表框2 mirrors it) and the other
  /// controls of their window.
  BlockedList& blocked() { return blocked_; }
  /// The history of findings (history.db in the data folder).
  FindingsHistory& history() { return *history_; }
  /// Whether the last check was the first to find the file (the history did not hold
  /// it); `account` as DecodeUnicodeEscapesUtf8 gives it.
  bool isNewFinding(const std::string& account, const std::string& fsid) const;
  BlockedForm& blockedForm() { return blockedForm_; }
  /// What the checker calls for every blocked file it finds (on its worker thread),
  /// with the account of the task that found it.
  void recordBlockedFile(const Credentials& account, const std::string& fsid,
                         const std::string& path);
  /// What a resumed check calls with the blocked files its earlier runs found.
  void listEarlierBlockedFiles(const Credentials& account,
                               const std::vector<MarkedBlockedFile>& files);

  /// The start-up work once the window shows: starts LoadAccounts on a thread of
  /// its own, shows the back-end notice and empties err.txt.
  void start();
  /// Waits until the account loader has finished (tests, shutdown).
  void waitForAccountLoader();
  /// The threads of the actions (add, validate, ...): one per action, not waited for.
  WorkerThreads& workers() { return workers_; }
  /// Waits until every action worker and the check task's threads have ended,
  /// keeping the UI's events flowing when called on the UI thread (a worker may be
  /// waiting for a prompt).
  void waitForWorkers();

  // The event table. Each runs on the UI thread and returns at once.
  void onAddAccountClicked();                // 按钮3
  void onAccountDoubleClicked(int row);      // 超级列表框1, a row
  void onAccountMenu(AccountMenuItem item);  // "cookies操作"
  void onSaveCookiesClicked();               // 按钮4
  void onLoginClicked();                     // 按钮2: the login chooser
  void onRefreshRootClicked();               // 按钮1
  void onTreeNodeEvent();                    // 树型框1: a node opened (double-click)
  void onTreeMenuStartCheck();               // "文件目录树菜单": "开始检测选中目录"
  void onStartCheckClicked();                // 按钮_开始检查
  /// The command line's check: 按钮_开始检查 with the choice about an unfinished
  /// task given instead of asked.
  StartOutcome onStartCheckRequested(ResumeChoice choice);
  void onPauseCheckClicked();    // 按钮_暂停检查
  void onStopCheckClicked();     // 按钮_停止检查
  void onBlockedFilesClicked();  // 按钮7: shows the blocked-file window
  // The blocked-file window.
  void onBlockedMenu(BlockedMenuItem item);  // "已和谐文件列表菜单"
  void onBlockedButton(BlockedButton button);
  void onBlockedWindowClosed();  // a close only hides the window
  /// The close question; true when the window may close.
  bool onCloseRequested();

  /// The front end's login chooser, opened modally by 按钮2 "帐号登陆".
  void setLoginChooser(std::function<void()> open) { loginChooser_ = std::move(open); }
  // The login chooser and windows, on the UI thread.
  /// Chooser 按钮1: true when the way 1 window may open; asks otherwise.
  bool onLoginWay1Chosen(bool browserCanStart);
  /// Chooser 按钮3 (the cookie help page) or 透明标签_安装edge (the embedded browser's).
  void onLoginHelpClicked(bool browserSection);
  /// A login window is asked to close holding `cookies` for the Netdisk web origin:
  /// a finished login starts AddAccount on a worker. True when the window may close.
  bool onLoginWindowClosing(LoginWay way, const std::string& cookies);

 private:
  /// Switches the operating account to the selected row and refreshes the tree.
  void switchToSelectedAccount();
  /// Lists the root folder of the operating account into the tree on a worker.
  void startRootRefresh();
  /// A delete item of the blocked-file menu: deletes the selected row's file on a
  /// worker, when the item can be chosen.
  void deleteSelectedBlockedRow(BlockedMenuItem item, DeleteMode mode);

  AppState& app_;
  MainForm& form_;
  AccountStore& accounts_;
  std::thread accountLoader_;
  std::function<void()> loginChooser_;
  // Before the workers, so that they outlive them.
  FolderTree tree_;
  BlockedList blocked_;
  BlockedForm blockedForm_;
  std::unique_ptr<FindingsHistory> history_;
  // Each row's last delete or move goes to the history.
  Subscription historyStates_;
  mutable std::mutex newFindingsMutex_;
  std::set<std::pair<std::string, std::string>> newFindings_;  // account, fs_id (UTF-8)
  TreeListingThread treeListing_;
  // After the tree, whose selection it reads; stops a running task when destroyed.
  CheckTask checkTask_;
  // Last, so it is joined first: its workers use everything above.
  WorkerThreads workers_;
};

}  // namespace pansift
