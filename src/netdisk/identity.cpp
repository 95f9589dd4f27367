#include "netdisk/identity.h"

#include "core/app_state.h"
#include "core/log.h"
#include "core/platform.h"
#include "net/http.h"
#include "netdisk/conventions.h"
#include "util/codepage.h"
#include "util/random.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr int kPageTimeoutSeconds = 10;
constexpr int kFollowListTimeoutSeconds = 15;

HttpResponse GetPage(const std::string& url, const std::string& cookies) {
  HttpRequest request;
  request.url = url;
  request.cookies = cookies;
  request.headers = kBrowserUserAgentLine;
  request.noRedirect = true;
  request.timeoutSeconds = kPageTimeoutSeconds;
  return SendRequest(request);
}

// The value of the "Location: " header; a line ends at LF, with or without CR.
std::string RedirectLocation(std::string_view headers) {
  constexpr std::string_view kName = "Location: ";
  int found = FindText(headers, kName);
  if (found < 0) return {};
  size_t start = static_cast<size_t>(found - 1) + kName.size();
  size_t end = headers.find_first_of("\r\n", start);
  if (end == std::string_view::npos) return {};
  return std::string(headers.substr(start, end - start));
}

// Where a redirect of the root page may lead: a path on the Netdisk origin, or a
// URL on one of the service's own https origins. "" for anywhere else (another
// host, plain http, a scheme-relative "//host"), which the cookie string must not
// reach.
std::string RedirectTarget(const AppState& app, const std::string& location) {
  if (location.starts_with('/') && !location.starts_with("//") && !location.starts_with("/\\"))
    return NetdiskUrl(app, location);
  if (IsServiceUrl(app, location)) return location;
  return {};
}

// The web root page, with its redirects followed by hand so that the login's own
// page is read even when the service sends us elsewhere first. A redirect that
// leaves the service's origins ends the read as a failed one.
HttpResponse FetchRootPage(const AppState& app, const std::string& cookies) {
  HttpResponse response = GetPage(NetdiskUrl(app, "/"), cookies);
  for (int i = 0; i < kRootPageMaxRedirects && response.status == 302; ++i) {
    std::string location = RedirectLocation(response.headers);
    if (location.empty()) break;
    std::string target = RedirectTarget(app, location);
    if (target.empty()) return {};
    response = GetPage(target, cookies);
  }
  return response;
}

// A service that could not be reached is not a dead login: the log and err.txt say
// why it could not (a CA file that cannot be read, a certificate that is not
// trusted, no connection), naming the file or the host.
void ReportUnreachable(AppState& app, AccountIdentity& identity, const std::string& error) {
  identity.transferError = error;
  app.lastTransferError.set(error);
  if (error.empty()) return;
  constexpr std::string_view kLead = "无法访问网盘服务：";
  const std::string line = L8(kLead) + Utf8ToLocal(error);
  AppendLog(app, line, std::string(kLead) + error);
  AppendErrorLine(app, line);
}

}  // namespace

AccountIdentity ReadIdentity(AppState& app, const std::string& cookies, int attempts) {
  if (attempts <= 0) attempts = kIdentityDefaultAttempts;
  AccountIdentity identity;
  std::string lastResult;
  std::string lastPage;
  std::string transferError;  // of the last request
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) ProcessEvents(app.platform);
    HttpResponse page = FetchRootPage(app, cookies);
    lastPage = page.body;
    transferError = page.error;
    std::string userData = Utf8ToLocal(TextBetween(page.body, "\"userInfo\":", "};"));
    identity.userName = ReplaceText(TextBetween(userData, "\"username\":\"", "\""), "*", "_");
    identity.uk = TextBetween(userData, "\"uk\":\"", "\"");
    identity.bdstoken = TextBetween(userData, "\"bdstoken\":\"", "\"");
    lastResult = userData;
    if (identity.uk.empty()) continue;

    HttpRequest follow;
    follow.url =
        NetdiskUrl(app, std::string(kFollowListPath) + kWebApiKeys + NewLogId() + kFollowListTail);
    follow.cookies = cookies;
    follow.headers = kBrowserUserAgentLine;
    follow.timeoutSeconds = kFollowListTimeoutSeconds;
    HttpResponse followed = SendRequest(follow);
    transferError = followed.error;
    std::string reply = std::move(followed.body);
    lastResult = reply;
    if (FindText(reply, "errno\":0,") > 0) {
      identity.replyText = reply;
      return identity;
    }
    if (FindText(reply, "errno\":-6,") > 0) {
      identity.uk.clear();
      identity.bdstoken.clear();
      identity.replyText = reply;
      return identity;
    }
  }
  if (!lastResult.empty()) {
    identity.replyText = lastResult;
  } else if (!lastPage.empty()) {
    identity.replyText = L8("{\"errno\":-6,\"}，请重新登陆帐号后再试。");
  }
  if (ServiceUnreachable(identity)) ReportUnreachable(app, identity, transferError);
  return identity;
}

bool ServiceUnreachable(const AccountIdentity& identity) {
  return identity.uk.empty() && identity.userName.empty() && identity.replyText.empty();
}

}  // namespace pansift
