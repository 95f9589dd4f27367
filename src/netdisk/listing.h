// One page of a folder listing (/api/list) in the three forms the program uses:
// the crawler's, the tree root's and a tree node's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/credentials.h"
#include "netdisk/conventions.h"

namespace pansift {

struct AppState;

/// The query values of the sort order: order "name" or "time", desc "0" or "1".
struct ListingOrder {
  std::string order = "time";
  std::string desc = "1";
};

/// One entry of a listing reply. Texts as the reply holds them, as local text in
/// which DecodeUnicodeEscapes gives the service's characters back exactly.
struct NetdiskEntry {
  std::string serverFilename;
  bool isdir = false;  // isdir is "1"
  std::string path;
  std::string size;
  std::string fsId;
  std::string serverMtime;  // seconds since 1970, decimal
};

/// The entries of a listing reply, in reply order; none when the reply has no list.
std::vector<NetdiskEntry> ReadEntries(std::string_view reply);

/// The dir value of a folder path as the folder queue carries it (entities encoded
/// once, "\u" escapes): both decoded, then UTF-8 percent-encoded ("/" is "%2F").
/// Nothing else is decoded: "%20" in a name is part of the name.
std::string FolderPathToDir(std::string_view storedPath);
/// The dir value of a tree node: "%2F" and the percent-encoded UTF-8 of each name,
/// from the top folder below the account's root down to the node.
std::string TreeNamesToDir(const std::vector<std::u16string>& namesTopDown);

std::string ListFolderPageUrl(const ListingOrder& order, int page, std::string_view dir);
std::string ListTreeRootUrl(const ListingOrder& order);
std::string ListTreeNodePageUrl(const ListingOrder& order, std::string_view dir, int page);

/// The crawler's listing: up to 10 attempts 500 ms apart until the reply holds
/// "{\"errno\":0,"; after ten failures one err.txt line (path, depth, last reply, or
/// why no reply came back) and "". Page numbers below 1 mean page 1. Lists `account`'s folder, with
/// its cookies.
std::string ListFolderPage(AppState& app, const Credentials& account, const ListingOrder& order,
                           std::string_view storedPath, int page);

enum class ListingOutcome { kSuccess, kCookiesInvalid, kFolderGone, kFailed };

struct TreeListing {
  ListingOutcome outcome = ListingOutcome::kFailed;
  std::string reply;  // local text, as received
  std::string error;  // UTF-8: why no reply came back (HttpResponse::error), if none did
};

/// The tree's root listing: one request of the first 200 entries.
TreeListing ListTreeRoot(AppState& app, const std::string& cookies, const ListingOrder& order);
/// One page of a tree node's folder; a second request only when the first reply is
/// empty. An errno -6 reply counts as failed here.
TreeListing ListTreeNodePage(AppState& app, const std::string& cookies, const ListingOrder& order,
                             std::string_view dir, int page);

}  // namespace pansift
