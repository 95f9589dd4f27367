#include "netdisk/identity.h"

#include "core/app_state.h"
#include "core/platform.h"
#include "net/http.h"
#include "netdisk/conventions.h"
#include "util/codepage.h"
#include "util/random.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr int kMaxRedirects = 10;
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

// The web root page, with its redirects followed by hand so that the login's own
// page is read even when the service sends us elsewhere first.
HttpResponse FetchRootPage(const AppState& app, const std::string& cookies) {
  HttpResponse response = GetPage(NetdiskUrl(app, "/"), cookies);
  for (int i = 0; i < kMaxRedirects && response.status == 302; ++i) {
    std::string location = TextBetween(response.headers, "Location: ", "\r\n");
    if (location.empty()) break;
    if (FindText(location, "https://") < 0) location = NetdiskUrl(app, location);
    response = GetPage(location, cookies);
  }
  return response;
}

}  // namespace

AccountIdentity ReadIdentity(AppState& app, const std::string& cookies, int attempts) {
  if (attempts <= 0) attempts = 2;
  AccountIdentity identity;
  std::string lastResult;
  std::string lastPage;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) ProcessEvents(app.platform);
    HttpResponse page = FetchRootPage(app, cookies);
    lastPage = page.body;
    std::string userData = Utf8ToLocal(TextBetween(page.body, "\"userInfo\":", "};"));
    identity.userName = ReplaceText(TextBetween(userData, "\"username\":\"", "\""), "*", "_");
    identity.uk = TextBetween(userData, "\"uk\":\"", "\"");
    identity.bdstoken = TextBetween(userData, "\"bdstoken\":\"", "\"");
    lastResult = userData;
    if (identity.uk.empty()) continue;

    HttpRequest follow;
    follow.url =
        NetdiskUrl(app, "/mbox/relation/getfollowlist?clienttype=0&app_id=250528&web=1&dp-logid=" +
                            NewLogId() + "&start=0&limit=10");
    follow.cookies = cookies;
    follow.headers = kBrowserUserAgentLine;
    follow.timeoutSeconds = kFollowListTimeoutSeconds;
    std::string reply = SendRequest(follow).body;
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
  return identity;
}

}  // namespace pansift
