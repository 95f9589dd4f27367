// Adding an account from a cookie string and checking stored accounts against the
// service: the identity read decides, the account list records the result.
#pragma once

#include <string>

namespace pansift {

struct AppState;
class MainForm;
class AccountStore;

/// The sentence after the user-name failure message that tells the user where to
/// turn when the message keeps coming back (UTF-8).
inline constexpr const char* kSupportSentence =
    "如果一直出现此提示，请到 PanSift 项目页面提交问题。";

/// The cookie help page as a file:// URL: docs/cookies.html beside the executable in
/// `executableDir`, else in an install's share/pansift, else the one in the source
/// tree; "" when none exists.
std::string CookieHelpPageUrl(const std::string& executableDir);
/// The folder of the running executable (a file system path), "" when unknown.
std::string ExecutableDir();

/// The UI-thread half of 按钮3: checks the pasted text of 编辑框_百度cookies.
/// Empty: "请填入要添加的帐号的cookies" (5 s). Neither "baiduid" nor "bduss" in any
/// letter case: the help question (10 s, warning icon), and on Yes the help page
/// opens in the browser. True when the text passes and AddAccount should start on a
/// worker thread.
bool AddAccountFromInput(AppState& app, MainForm& form);

/// What became of an account that was added or validated.
enum class AccountOutcome {
  kAdded,        // a new row
  kUpdated,      // the row of the same user now holds the new cookies
  kKept,         // the user was asked whether to update the existing row and said no
  kValid,        // a validated login is live
  kInvalid,      // the service does not know the login (or it expired)
  kUnreachable,  // nothing came back from the service
};

/// Reads who `cookies` belongs to (the edit box's text when `cookies` is empty) and
/// adds it to the list, or replaces the row of the same user after asking. Clears
/// the edit box and shows tab "选择百度帐号" on success. Blocking; for workers.
AccountOutcome AddAccount(AppState& app, MainForm& form, AccountStore& store, std::string cookies);

/// Validates one row: "验证中", then "有效" with the identity the service reports,
/// or "已失效" with the other cells kept. kValid, kInvalid or kUnreachable (the row
/// says "已失效" then too); kInvalid for a row that does not exist. Blocking; for
/// workers.
AccountOutcome ValidateAccountRow(AppState& app, AccountStore& store, int row);

/// Validates the selected row (ValidateAccountRow). "没有选中项目。" without a
/// selection. Blocking; for workers.
void ValidateSelectedAccount(AppState& app, AccountStore& store);

/// Validates every row in turn, then says "全部验证完成。"; an empty list gives
/// "没有要验证的cookies." only. Blocking; for workers.
void ValidateAllAccounts(AppState& app, AccountStore& store);

}  // namespace pansift
