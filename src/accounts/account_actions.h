// The actions of the account list's menu: delete an account, make one the
// operating account, copy a cell.
#pragma once

#include "accounts/account_store.h"

namespace pansift {

struct AppState;

/// Asks, then removes the selected row. "没有选中项目。" when none is selected.
void DeleteSelectedAccount(AppState& app, AccountStore& store);

/// Makes the selected row the operating account (user name and cookie string in
/// AppState). "没有选中项目。" and false when none is selected. The caller starts
/// the root refresh of the folder tree when this returns true.
bool SwitchOperatingAccount(AppState& app, const AccountStore& store);

/// Puts one cell of the selected row on the clipboard; nothing without a selection.
void CopySelectedField(AppState& app, const AccountStore& store, int column);

}  // namespace pansift
