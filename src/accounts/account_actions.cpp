#include "accounts/account_actions.h"

#include "accounts/login_flow.h"
#include "core/app_state.h"
#include "core/platform.h"
#include "util/codepage.h"

namespace pansift {
namespace {

MessageBoxResult Prompt(AppState& app, const char* utf8Text, MessageBoxStyle style) {
  return TimedMessageBox(app.platform, L8("提示"), L8(utf8Text), kPromptTimeoutMs, style);
}

}  // namespace

void DeleteSelectedAccount(AppState& app, AccountStore& store) {
  int row = store.selectedRow();
  if (row < 0) {
    Prompt(app, "没有选中项目。", kStyleInformation);
    return;
  }
  std::string question = L8("确定删除 ") + store.cellText(row, kColumnUserName) + L8(" 的cookies?");
  if (TimedMessageBox(app.platform, L8("提示"), question, kPromptTimeoutMs, kStyleYesNoQuestion) !=
      kIdYes)
    return;
  store.removeRow(row);
  // The browser data a login window left behind may hold this account's login.
  RemoveLeftoverLoginProfiles(app.dirs.cache);
}

bool SwitchOperatingAccount(AppState& app, const AccountStore& store) {
  AccountStore::Snapshot snap = store.snapshot();
  if (snap.selectedRow < 0) {
    Prompt(app, "没有选中项目。", kStyleInformation);
    return false;
  }
  const AccountRecord& row = snap.rows[snap.selectedRow];
  app.currentUserName.set(row.userName);
  app.currentCookies.set(row.cookies);
  // The row's token until the tree's refresh reads the account anew: the previous
  // account's token must never go out with this account's cookies.
  app.currentBdstoken.set(row.bdstoken);
  app.currentUk.set(row.uk);
  return true;
}

void CopySelectedField(AppState& app, const AccountStore& store, int column) {
  int row = store.selectedRow();
  if (row < 0 || !IsAccountColumn(column)) return;
  app.platform.setClipboard(LocalToUnicode(store.cellText(row, column)));
}

}  // namespace pansift
