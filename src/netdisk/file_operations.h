// The requests that change the Netdisk: deleting a file, testing for a folder,
// creating a folder and moving a file into one. Each acts for the account whose
// login it is handed, retries by its own rules and hands back the last reply with
// what it means.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/credentials.h"

namespace pansift {

struct AppState;

enum class DeleteVariant {
  kOnDetection,  // the checker's delete: async 0, 90 attempts, 5 s, the caller's gate
  kMenu,         // the blocked-file list's delete: the chosen mode, 5 attempts, 180 s
};
/// How the service carries out a delete: the request's async value.
enum class DeleteMode : int { kSync = 0, kAsync = 1, kAuto = 2 };
enum class DeleteOutcome { kDeleted, kIdentityCheck, kFileMissing, kFailed };

struct DeleteResult {
  DeleteOutcome outcome = DeleteOutcome::kFailed;
  std::string reply;  // the last reply (local text)
  int httpStatus = 0;
};

/// Deletes the file at `path`, the service's path exactly. `deleteMode` is the
/// menu variant's; the on-detection variant always deletes synchronously. `gate` runs
/// before every attempt of the on-detection variant; false ends the delete as failed.
/// A busy service is asked again after 2 s. Only the menu variant reports a missing
/// file; on detection that counts as failed, unless an earlier attempt got no
/// answer. A missing file after an unanswered attempt is never reported as
/// deleted: that attempt may have deleted it, or the path never existed.
DeleteResult DeleteFile(AppState& app, const Credentials& account, std::u16string_view path,
                        DeleteMode deleteMode, DeleteVariant variant,
                        const std::function<bool()>& gate = {});

struct FolderCheck {
  bool missing = false;
  std::string reply;
};

/// Lists `folder` (local text): missing when the service answers errno -7 or -9; any
/// other reply, failures included, counts as present.
FolderCheck CheckTargetFolder(AppState& app, const Credentials& account, std::string_view folder);

struct CreatedFolder {
  std::u16string path;  // the folder the service made, as it names it; empty on failure
  std::string reply;    // the last reply, made readable when it held "\u" escapes
};

/// Creates `folder` (local text). The service may give it another name; `path` is the
/// one it reports.
CreatedFolder CreateFolder(AppState& app, const Credentials& account, std::string_view folder);

enum class MoveOutcome { kMoved, kFileMissing, kFailed };

struct MoveResult {
  MoveOutcome outcome = MoveOutcome::kFailed;
  std::string errnoText;  // the reply's errno value as text; empty without one
  std::string reply;      // the last reply without CR LF pairs
  int httpStatus = 0;
};

/// Moves the file at `path` (the service's path exactly) into `targetFolder` as
/// `newName`; a name clash there makes a new copy. All three are Unicode: a name
/// outside the local code page (an emoji) must not come out renamed with "?".
MoveResult MoveFile(AppState& app, const Credentials& account, std::u16string_view path,
                    std::u16string_view targetFolder, std::u16string_view newName);

/// The filelist form field of a delete: a JSON array holding `path` as its one
/// string, written by the JSON writer as UTF-8 and percent-encoded (upper-case hex
/// digits, a space as "+"). Whatever the name holds (quotes, backslashes, control
/// characters), the field is one array of one path.
std::string DeleteFileList(std::u16string_view path);
/// The filelist form field of a move: one object {path, dest, ondup "newcopy",
/// newname}, written and encoded as DeleteFileList's.
std::string MoveFileList(std::u16string_view path, std::u16string_view targetFolder,
                         std::u16string_view newName);

}  // namespace pansift
