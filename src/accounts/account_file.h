// The account file baiduset.ini beside the program: its format (compact JSON in
// GBK, read as UTF-8 or GBK), loading it into the list, keeping a damaged one
// aside, and saving the list to it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_store.h"

namespace pansift {

struct AppState;
class MainForm;

/// The account file beside the program.
std::string AccountFilePath(const AppState& app);

/// The account file's content for these rows: compact JSON in GBK, members
/// "dataname", "num", "data"; each element "user", "cookies", "uk", "bdstoken".
/// It reads back as exactly these texts: should the GBK bytes happen to be valid
/// UTF-8 as a whole (which would make them read as UTF-8), the non-ASCII
/// characters are written as \uXXXX escapes instead.
std::string AccountsToJson(const std::vector<AccountRecord>& rows);
/// The rows a file's bytes describe (ordinal and status left empty), read as
/// DecodeOwnFile reads the program's own files (UTF-8 or GBK): only the "data"
/// array is read; anything that is not JSON gives no rows. `isJson`, when
/// given, tells whether the bytes were a JSON document at all.
std::vector<AccountRecord> AccountsFromFileBytes(std::string_view bytes, bool* isJson = nullptr);

/// Appends the accounts of baiduset.ini to the list with status "从记录导入", then
/// selects tab "清理和谐文件" when the list has rows, else "选择百度帐号". A missing
/// or empty file gives no rows and no message. A file that cannot be read or is
/// not JSON (cut off, damaged) gives no rows either, but is first renamed aside
/// (baiduset.ini.damaged-<time>) and the log says so, so that the next save cannot
/// overwrite the accounts it may still hold. Returns the number of rows read.
int LoadAccounts(AppState& app, AccountStore& store, MainForm& form);

/// Asks, then writes every row to baiduset.ini (WriteAccountFile) and says
/// "保存成功。". True when the file was written.
bool SaveAccounts(AppState& app, const AccountStore& store);
/// Writes every row to baiduset.ini without asking: created readable by the user
/// only, replaced as a whole; a failed write leaves the previous file as it was and
/// is reported in a prompt. True when the file was written.
bool WriteAccountFile(AppState& app, const AccountStore& store);

}  // namespace pansift
