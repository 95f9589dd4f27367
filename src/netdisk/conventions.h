// What every request to the service has in common, in one place: the origins a
// login may be sent to, the browser's User-Agent line, the log ids, the fixed
// query tails, page sizes, time-outs and attempt counts.
#pragma once

#include <string>
#include <string_view>

#include "net/http.h"

namespace pansift {

struct AppState;

/// The one header line the identity read passes: a desktop browser's User-Agent
/// (the same line the transport puts into empty headers).
inline constexpr const char* kBrowserUserAgentLine = kDefaultUserAgentLine;

/// Attempts every caller gives the identity read.
inline constexpr int kIdentityAttempts = 3;
/// Attempts when a caller asks for none.
inline constexpr int kIdentityDefaultAttempts = 2;
/// Redirects of the web root page followed by hand per attempt.
inline constexpr int kRootPageMaxRedirects = 10;

/// Entries per listing page: the crawler's and a tree node's pages (num=100), and
/// the tree root's single page (num=200). A full page may be followed by another.
inline constexpr int kFolderPageSize = 100;
inline constexpr int kTreeRootPageSize = 200;

/// The fixed query tails of the listing forms, each following the dir value.
/// The crawler's pages, and a tree node's pages in time order:
inline constexpr const char* kListTailTime =
    "&t=0.9874196068828893&channel=chunlei&web=1&app_id=250528&bdstoken=&clienttype=0";
/// A tree node's pages in name order:
inline constexpr const char* kListTailName =
    "&t=0.9227398003716567&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0";
/// The tree root's page:
inline constexpr const char* kListTailRoot =
    "&t=0.18259558284517108&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0";
/// The keys the web page's API calls carry, in its order; the request's log id
/// (NewLogId(), FixedLogId()) follows.
inline constexpr const char* kWebApiKeys = "clienttype=0&app_id=250528&web=1&dp-logid=";
/// The liveness check of a login: "/mbox/relation/getfollowlist?" + kWebApiKeys, a
/// fresh NewLogId(), then kFollowListTail.
inline constexpr const char* kFollowListPath = "/mbox/relation/getfollowlist?";
inline constexpr const char* kFollowListTail = "&start=0&limit=10";

/// The Netdisk web origin followed by `pathAndQuery` ("/api/list?...").
std::string NetdiskUrl(const AppState& app, std::string_view pathAndQuery);

/// Whether `url` lies on one of the service's own origins (Netdisk, passport,
/// portal) over https: the only places a login's cookie string may be sent. The
/// scheme and host compare without case; the port must match exactly.
bool IsServiceUrl(const AppState& app, std::string_view url);

/// The fixed form of the dp-logid value: "479995006038637" and five random digits.
std::string FixedLogId();

}  // namespace pansift
