#include "tree/tree_operations.h"

#include <optional>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "core/app_state.h"
#include "core/log.h"
#include "core/main_form.h"
#include "core/platform.h"
#include "core/worker_threads.h"
#include "netdisk/conventions.h"
#include "netdisk/identity.h"
#include "netdisk/listing.h"
#include "tree/file_icon.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr int kBusyPromptMs = 5000;

std::string FolderGoneText() {
  return L8("当前目录已不存在（已被删除或改名），需要重新刷新。");
}

// The node of one listing entry: folders get the tree's default picture, files the
// picture of their extension, both read from `name` as the caller prepared it.
void AddEntryNode(FolderTree& tree, NodeId parent, const std::string& name, bool isdir) {
  tree.addNode(parent, DecodeUnicodeEscapes(name), isdir ? kPictureFolder : FileIconIndex(name),
               isdir ? kNodeFolder : kNodeFile);
}

}  // namespace

ListingOrder ReadSortOrder(const MainForm& form) {
  switch (form.sortOrder()) {
    case SortOrder::kNameAscending:
      return {"name", "0"};
    case SortOrder::kNameDescending:
      return {"name", "1"};
    case SortOrder::kTimeAscending:
      return {"time", "0"};
    default:
      return {"time", "1"};
  }
}

void RefreshRootTree(AppState& app, MainForm& form, AccountStore& accounts, FolderTree& tree) {
  auto enableButton = [&form] { form.setEnabled(FormButton::kRefreshRoot, true); };

  if (app.currentCookies.get().empty() && accounts.rowCount() > 0) {
    app.currentUserName.set(accounts.cellText(0, kColumnUserName));
    app.currentCookies.set(accounts.cellText(0, kColumnCookies));
  }
  const std::string cookies = app.currentCookies.get();
  if (cookies.empty()) {
    enableButton();
    TimedMessageBox(app.platform, L8("提示："),
                    L8("没有可操作的百度帐号，请通过左下方 '帐号登陆' 先进行登陆。"),
                    kPromptTimeoutMs, kStyleWarning);
    form.setSelectedTab(kTabAccounts);
    return;
  }

  {
    std::lock_guard lock(app.listLock);
    form.hideRefreshHint();
    SetStatus(app, L8("正在获取 ") + app.currentUserName.get() + L8(" 的目录结构"));
    tree.clear();
  }

  AccountIdentity identity = ReadIdentity(app, cookies, kIdentityAttempts);

  // A renamed account: its row is found by uk. Without a uk (a failed or dead
  // login) there is nothing to find it by; matching the empty uk would rename an
  // unrelated row that has none.
  if (identity.userName != app.currentUserName.get() && !identity.uk.empty() &&
      !identity.userName.empty()) {
    std::lock_guard lock(app.listLock);
    for (int row = 0; row < accounts.rowCount(); ++row) {
      if (accounts.cellText(row, kColumnUk) != identity.uk) continue;
      accounts.setAccountCell(row, kColumnBdstoken, identity.bdstoken);
      accounts.setAccountCell(row, kColumnUserName, identity.userName);
      break;
    }
  }

  if (identity.userName.empty()) {
    TimedMessageBox(app.platform, L8("提示"), identity.replyText, kPromptTimeoutMs,
                    kStyleInformation);
    enableButton();
    SetStatus(app,
              L8("获取用户名失败，可能是cookies失效，或百度网盘已更新。如果一直出现则联系更新，") +
                  L8(kSupportContact) + "\r\n" + identity.replyText);
    return;
  }
  app.currentUserName.set(identity.userName);
  app.currentBdstoken.set(identity.bdstoken);

  NodeId root = kNoNode;
  {
    std::lock_guard lock(app.listLock);
    // Two refreshes may overlap (a click and an account switch): the later one
    // wins, and the tree keeps exactly one root node. The earlier one's entries
    // then find their root gone and are dropped.
    if (tree.size() != 0) tree.clear();
    tree.setPictures();
    root = tree.addNode(kNoNode, LocalToUnicode(identity.userName + L8("的网盘")), kPictureAccount,
                        kNodeAccountRoot);
  }

  TreeListing listing = ListTreeRoot(app, cookies, ReadSortOrder(form));
  switch (listing.outcome) {
    case ListingOutcome::kCookiesInvalid:
      enableButton();
      SetStatus(app, L8("cookies可能无效,请重新登陆"));
      return;
    case ListingOutcome::kFolderGone:
      enableButton();
      SetStatus(app, FolderGoneText());
      return;
    case ListingOutcome::kFailed:
      enableButton();
      SetStatus(app, L8("获取失败目录列表，请重试"));
      return;
    case ListingOutcome::kSuccess:
      break;
  }

  std::vector<NetdiskEntry> entries = ReadEntries(listing.reply);
  {
    std::lock_guard lock(app.listLock);
    // First-level names are shown as the reply has them, entities and all.
    for (const NetdiskEntry& entry : entries)
      AddEntryNode(tree, root, entry.serverFilename, entry.isdir);
    tree.setExpanded(root, true);
    SetStatus(app, app.currentUserName.get() + L8(" 获取成功"));
  }
  enableButton();
}

void ListOrFoldNode(AppState& app, const MainForm& form, FolderTree& tree, NodeId id) {
  // Held for the whole run, requests included: whatever else changes the lists or
  // the tree waits until this folder is listed.
  std::unique_lock lock(app.listLock);
  std::optional<TreeNode> node = tree.node(id);
  if (!node || node->value != kNodeFolder) return;
  if (!node->children.empty()) {
    // Folded while loaded: drop the children, so the next opening lists it anew.
    if (!node->expanded) tree.removeChildren(id);
    return;
  }

  const std::string dir = TreeNamesToDir(tree.namesTopDown(id));
  const std::string cookies = app.currentCookies.get();
  SetStatus(app, L8("获取中"));
  const ListingOrder order = ReadSortOrder(form);
  long long total = 0;
  for (int page = 1;; ++page) {
    SetStatus(app, L8("正在获取第 ") + std::to_string(page) + L8(" 页"));
    TreeListing listing = ListTreeNodePage(app, cookies, order, dir, page);
    if (listing.outcome == ListingOutcome::kFolderGone) {
      SetStatus(app, FolderGoneText());
      return;
    }
    if (listing.outcome != ListingOutcome::kSuccess) {
      SetStatus(app, L8("获取目录列表时失败：") + listing.reply);
      // Never ask the user while holding the lock.
      lock.unlock();
      TimedMessageBox(app.platform, L8("提示："),
                      L8("获取失败，请重试。\r\n\r\n失败原因：") + listing.reply, kPromptTimeoutMs,
                      kStyleInformation);
      return;
    }
    std::vector<NetdiskEntry> entries = ReadEntries(listing.reply);
    total += static_cast<long long>(entries.size());
    for (const NetdiskEntry& entry : entries) {
      AddEntryNode(tree, id, DecodeEntitiesWithTilde(entry.serverFilename), entry.isdir);
      ProcessEvents(app.platform);
    }
    // A full page may be followed by another.
    if (entries.size() >= static_cast<size_t>(kFolderPageSize)) continue;
    tree.setExpanded(id, true);
    SetStatus(app, L8("获取成功。  本次获取数量：") + std::to_string(total));
    return;
  }
}

bool TreeListingThread::running() const {
  std::lock_guard lock(mutex_);
  return running_ && running_->load();
}

void StartRootRefresh(AppState& app, MainForm& form, AccountStore& accounts, FolderTree& tree,
                      WorkerThreads& workers) {
  workers.start([&app, &form, &accounts, &tree] { RefreshRootTree(app, form, accounts, tree); });
}

bool OpenOrFoldNode(AppState& app, const MainForm& form, FolderTree& tree, WorkerThreads& workers,
                    TreeListingThread& listing) {
  NodeId node = tree.selected();
  if (listing.running()) {
    TimedMessageBox(app.platform, L8("提示："),
                    L8("当前有获取目录列表的任务，请等待完成后再获取。"), kBusyPromptMs,
                    kStyleInformation);
    return false;
  }
  if (node == kNoNode) return false;
  auto running = std::make_shared<std::atomic<bool>>(true);
  {
    std::lock_guard lock(listing.mutex_);
    listing.running_ = running;
  }
  workers.start([&app, &form, &tree, node, running] {
    ListOrFoldNode(app, form, tree, node);
    running->store(false);
  });
  return true;
}

}  // namespace pansift
