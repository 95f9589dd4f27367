#include "netdisk/file_operations.h"

#include "core/app_state.h"
#include "core/platform.h"
#include "json/json_doc.h"
#include "net/http.h"
#include "netdisk/conventions.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/random.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr int kDetectionDeleteAttempts = 90;
constexpr int kDetectionDeleteTimeoutSeconds = 5;
constexpr int kMenuDeleteAttempts = 5;
constexpr int kSlowOperationTimeoutSeconds = 180;
constexpr std::chrono::milliseconds kBusyWait{2000};
constexpr int kFolderCheckAttempts = 3;
constexpr int kFolderCheckTimeoutSeconds = 15;
constexpr int kCreateAttempts = 3;
constexpr int kMoveAttempts = 3;

const char kFileMissingMarker[] = "{\"errno\":12,\"info\":[{\"errno\":-9,\"path\":\"";

bool Has(std::string_view reply, std::string_view marker) {
  return FindText(reply, marker) > 0;
}

HttpResponse Post(AppState& app, const std::string& cookies, const std::string& pathAndQuery,
                  std::string body, int timeoutSeconds) {
  HttpRequest request;
  request.url = NetdiskUrl(app, pathAndQuery);
  request.method = HttpMethod::Post;
  request.body = std::move(body);
  request.cookies = cookies;
  request.timeoutSeconds = timeoutSeconds;
  return SendRequest(request);
}

bool ServiceBusy(std::string_view reply) {
  return (Has(reply, "{\"errno\":12,\"info") && Has(reply, "{\"errno\":111,")) ||
         Has(reply, "\"errno\":31034,");
}

DeleteOutcome ClassifyDelete(std::string_view reply, DeleteVariant variant) {
  if (Has(reply, "{\"errno\":0,\"info\":[{\"errno\":0,\"path\":\"") ||
      Has(reply, "\"errno\":0,\"info\":[],\"request_id")) {
    return DeleteOutcome::kDeleted;
  }
  if (Has(reply, "{\"errno\":132,")) return DeleteOutcome::kIdentityCheck;
  if (variant == DeleteVariant::kMenu && Has(reply, kFileMissingMarker)) {
    return DeleteOutcome::kFileMissing;
  }
  return DeleteOutcome::kFailed;
}

// A form field whose value is a JSON document.
std::string JsonField(std::string_view name, const JsonDoc& doc) {
  return std::string(name) + "=" + UrlEncodeBytes(doc.toUtf8(), true);
}

}  // namespace

std::string DeleteFileList(std::u16string_view path) {
  JsonDoc list;
  list.setUnicode("[0]", path);
  return JsonField("filelist", list);
}

std::string MoveFileList(std::u16string_view path, std::u16string_view targetFolder,
                         std::u16string_view newName) {
  JsonDoc list;
  list.setJson("[0]", "{}");
  list.setUnicode("[0].path", path);
  list.setUnicode("[0].dest", targetFolder);
  list.setUnicode("[0].ondup", u"newcopy");
  list.setUnicode("[0].newname", newName);
  return JsonField("filelist", list);
}

DeleteResult DeleteFile(AppState& app, const Credentials& account, std::u16string_view path,
                        DeleteMode deleteMode, DeleteVariant variant,
                        const std::function<bool()>& gate) {
  const bool onDetection = variant == DeleteVariant::kOnDetection;
  const DeleteMode mode = onDetection ? DeleteMode::kSync : deleteMode;
  const std::string async = std::to_string(static_cast<int>(mode));
  const int attempts = onDetection ? kDetectionDeleteAttempts : kMenuDeleteAttempts;
  const int timeout = onDetection ? kDetectionDeleteTimeoutSeconds : kSlowOperationTimeoutSeconds;
  const std::string body = DeleteFileList(path);

  DeleteResult result;
  bool unanswered = false;  // an attempt got no reply: it may have deleted the file
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (onDetection && gate && !gate()) {
      result.outcome = DeleteOutcome::kFailed;
      return result;
    }
    HttpResponse response =
        Post(app, account.cookies,
             "/api/filemanager?async=" + async + "&onnest=fail&opera=delete&bdstoken=" +
                 UrlEncodeBytes(account.bdstoken) + "&" + kWebApiKeys + FixedLogId(),
             body, timeout);
    result.reply = std::move(response.body);
    result.httpStatus = response.status;
    if (ServiceBusy(result.reply)) {
      WaitPumping(app.platform, kBusyWait);
      continue;
    }
    if (!result.reply.empty()) break;
    unanswered = true;
  }
  result.outcome = ClassifyDelete(result.reply, variant);
  // After an attempt that got no answer, "no such file" cannot tell whether that
  // attempt deleted the file (its reply lost on the way) or the path never existed
  // (the request never arrived): it is reported as what the service said, a missing
  // file, by both variants, and never as deleted.
  if (unanswered && result.outcome == DeleteOutcome::kFailed &&
      Has(result.reply, kFileMissingMarker)) {
    result.outcome = DeleteOutcome::kFileMissing;
  }
  return result;
}

FolderCheck CheckTargetFolder(AppState& app, const Credentials& account, std::string_view folder) {
  FolderCheck check;
  for (int attempt = 0; attempt < kFolderCheckAttempts; ++attempt) {
    HttpRequest request;
    request.url =
        NetdiskUrl(app, std::string("/api/list?") + kWebApiKeys + NewLogId() +
                            "&order=time&desc=1&dir=" + UrlEncode(folder) + "&num=100&page=1");
    request.cookies = account.cookies;
    request.timeoutSeconds = kFolderCheckTimeoutSeconds;
    check.reply = SendRequest(request).body;
    if (Has(check.reply, "{\"errno\":")) break;
    ProcessEvents(app.platform);
  }
  check.missing = Has(check.reply, "{\"errno\":-7,\"") || Has(check.reply, "{\"errno\":-9,\"");
  return check;
}

CreatedFolder CreateFolder(AppState& app, const Credentials& account, std::string_view folder) {
  CreatedFolder created;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::string raw =
        Post(app, account.cookies,
             "/api/create?a=commit&bdstoken=" + UrlEncodeBytes(account.bdstoken) + "&" +
                 kWebApiKeys + NewLogId(),
             "path=" + UrlEncode(folder) + "&isdir=1&block_list=%5B%5D",
             kSlowOperationTimeoutSeconds)
            .body;
    created.reply = Has(raw, "\\u") ? UnescapeReplyText(raw) : raw;
    if (Has(created.reply, "\"status\":0,\"errno\":0,\"")) {
      // The path is the JSON string's value: the service writes "/" as "\/", which a
      // plain cut of the text would hand on as part of the folder's name.
      JsonDoc doc;
      doc.parse(raw);
      created.path = doc.getUnicode("path");
      return created;
    }
    ProcessEvents(app.platform);
  }
  return created;
}

MoveResult MoveFile(AppState& app, const Credentials& account, std::u16string_view path,
                    std::u16string_view targetFolder, std::u16string_view newName) {
  const std::string body = MoveFileList(path, targetFolder, newName);
  MoveResult result;
  for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
    HttpResponse response =
        Post(app, account.cookies,
             "/api/filemanager?async=0&onnest=fail&opera=move&bdstoken=" +
                 UrlEncodeBytes(account.bdstoken) + "&" + kWebApiKeys + NewLogId(),
             body, kSlowOperationTimeoutSeconds);
    result.reply = ReplaceText(response.body, "\r\n", "");
    result.httpStatus = response.status;
    if (Has(result.reply, "{\"errno\":")) break;
  }
  JsonDoc doc;
  doc.parse(result.reply);
  result.errnoText = doc.getText("errno");
  if (result.errnoText == "0") {
    result.outcome = MoveOutcome::kMoved;
  } else if (Has(result.reply, kFileMissingMarker)) {
    result.outcome = MoveOutcome::kFileMissing;
  } else {
    result.outcome = MoveOutcome::kFailed;
  }
  return result;
}

}  // namespace pansift
