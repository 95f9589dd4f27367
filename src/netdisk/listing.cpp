#include "netdisk/listing.h"

#include "core/app_state.h"
#include "core/platform.h"
#include "json/json_doc.h"
#include "net/http.h"
#include "netdisk/conventions.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr int kListingTimeoutSeconds = 5;
constexpr int kFolderPageAttempts = 10;
constexpr std::chrono::milliseconds kFolderPageWait{500};

const char kSuccessMarker[] = "{\"errno\":0,";

HttpResponse GetListing(AppState& app, const std::string& cookies,
                        const std::string& pathAndQuery) {
  HttpRequest request;
  request.url = NetdiskUrl(app, pathAndQuery);
  request.cookies = cookies;
  request.timeoutSeconds = kListingTimeoutSeconds;
  return SendRequest(request);
}

TreeListing Classify(HttpResponse response, bool cookiesCanBeInvalid) {
  std::string reply = std::move(response.body);
  TreeListing listing;
  listing.error = std::move(response.error);
  if (cookiesCanBeInvalid && FindText(reply, "{\"errno\":-6,") > 0) {
    listing.outcome = ListingOutcome::kCookiesInvalid;
  } else if (FindText(reply, "{\"errno\":-9,") > 0) {
    listing.outcome = ListingOutcome::kFolderGone;
  } else if (FindText(reply, kSuccessMarker) < 0) {
    listing.outcome = ListingOutcome::kFailed;
  } else {
    listing.outcome = ListingOutcome::kSuccess;
  }
  listing.reply = std::move(reply);
  return listing;
}

}  // namespace

std::vector<NetdiskEntry> ReadEntries(std::string_view reply) {
  std::vector<NetdiskEntry> entries;
  JsonDoc doc;
  if (!doc.parse(reply)) return entries;
  int count = doc.count("list");
  entries.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    std::string prefix = "list[" + std::to_string(i) + "].";
    NetdiskEntry entry;
    // Names in the form whose escapes decode to exactly the service's characters.
    entry.serverFilename = UnicodeToEscapedLocal(doc.getUnicode(prefix + "server_filename"));
    entry.isdir = doc.getText(prefix + "isdir") == "1";
    entry.path = UnicodeToEscapedLocal(doc.getUnicode(prefix + "path"));
    entry.size = doc.getText(prefix + "size");
    entry.fsId = doc.getText(prefix + "fs_id");
    entry.serverMtime = doc.getText(prefix + "server_mtime");
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string FolderPathToDir(std::string_view storedPath) {
  std::string decoded = DecodeEntities(storedPath);
  return UrlEncodeBytes(UnicodeToUtf8(DecodeUnicodeEscapes(decoded)), true);
}

std::string TreeNamesToDir(const std::vector<std::u16string>& namesTopDown) {
  std::string dir;
  for (const std::u16string& name : namesTopDown) {
    dir += "%2F";
    dir += UrlEncodeBytes(UnicodeToUtf8(name), true);
  }
  return dir;
}

namespace {

// The part every form shares, up to the dir value.
std::string ListHead(const ListingOrder& order, int page, int pageSize, std::string_view dir) {
  return "/api/list?order=" + order.order + "&desc=" + order.desc +
         "&showempty=0&web=1&page=" + std::to_string(page) + "&num=" + std::to_string(pageSize) +
         "&dir=" + std::string(dir);
}

}  // namespace

std::string ListFolderPageUrl(const ListingOrder& order, int page, std::string_view dir) {
  return ListHead(order, page, kFolderPageSize, dir) + kListTailTime;
}

std::string ListTreeRootUrl(const ListingOrder& order) {
  return ListHead(order, 1, kTreeRootPageSize, "%2F") + kListTailRoot;
}

std::string ListTreeNodePageUrl(const ListingOrder& order, std::string_view dir, int page) {
  return ListHead(order, page, kFolderPageSize, dir) +
         (order.order == "name" ? kListTailName : kListTailTime);
}

std::string ListFolderPage(AppState& app, const Credentials& account, const ListingOrder& order,
                           std::string_view storedPath, int page) {
  const std::string dir = FolderPathToDir(storedPath);
  if (page < 1) page = 1;
  HttpResponse response;
  for (int attempt = 0; attempt < kFolderPageAttempts; ++attempt) {
    response = GetListing(app, account.cookies, ListFolderPageUrl(order, page, dir));
    if (FindText(response.body, kSuccessMarker) > 0) return response.body;
    ProcessEvents(app.platform);
    WaitPumping(app.platform, kFolderPageWait);
  }
  // Without a reply, the line says why none came.
  const std::string last =
      response.failure == TransferFailure::kNone ? response.body : Utf8ToLocal(response.error);
  AppendErrorLine(app, std::string(storedPath) + "----" + app.depthText.get() + "----" + last);
  return {};
}

TreeListing ListTreeRoot(AppState& app, const std::string& cookies, const ListingOrder& order) {
  return Classify(GetListing(app, cookies, ListTreeRootUrl(order)), true);
}

TreeListing ListTreeNodePage(AppState& app, const std::string& cookies, const ListingOrder& order,
                             std::string_view dir, int page) {
  const std::string url = ListTreeNodePageUrl(order, dir, page);
  HttpResponse response = GetListing(app, cookies, url);
  if (response.body.empty()) response = GetListing(app, cookies, url);
  return Classify(std::move(response), false);
}

}  // namespace pansift
