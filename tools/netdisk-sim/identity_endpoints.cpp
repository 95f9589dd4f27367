// What the program reads a login's identity from: the web page's user data
// (reached through the root's redirects) and getfollowlist, which answers only
// a live login.
#include "endpoints.h"
#include "query_checks.h"

namespace pansift::sim {
namespace {

Reply Found(std::string location) {
  Reply r;
  r.status = 302;
  r.contentType = kHtml;
  r.headers.emplace_back("Location", std::move(location));
  r.body = "<html><body>Found</body></html>";
  return r;
}

// Inside a JSON string of the page's script: quotes and backslashes escaped, the
// rest raw UTF-8 as the service writes it.
std::string ScriptText(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

Reply AnswerRootPage(Service& service, const Call& call) {
  const std::string& path = call.entry.path;
  const Account* account = call.account;
  const RootFaults& faults = service.faults.root;
  RootRedirect mode = faults.redirect.load();
  std::string origin = service.originOf(Origin::Netdisk);
  const bool live = account && account->spec.login == LoginState::Live;
  if (!live && faults.deadLoginToPassport.load()) {
    // The service sends a visitor without a live login to the passport's login page.
    return Found(service.originOf(Origin::Passport) +
                 "/v2/?login&u=" + PercentEncode(origin + "/disk/main"));
  }
  if (path == "/" && mode != RootRedirect::None && mode != RootRedirect::NoLocation) {
    return Found(mode == RootRedirect::Relative   ? "/disk/main"
                 : mode == RootRedirect::Absolute ? origin + "/disk/main"
                                                  : "/disk/home");
  }
  if (path == "/disk/home") return Found(origin + "/disk/main");
  Reply r;
  if (path == "/" && mode == RootRedirect::NoLocation) r.status = 302;
  r.contentType = kHtml;
  std::string locals;
  if (account) {
    // The page carries the user data as raw UTF-8 inside a script object.
    locals = "{\"loginstate\":1,\"userInfo\":{\"username\":\"" +
             ScriptText(account->spec.userName) +
             "\",\"photo\":\"https:\\/\\/ss0.bdstatic.com\\/avatar.jpg\"" +
             (faults.withoutUk.load() ? "" : ",\"uk\":\"" + account->spec.uk + "\"") +
             ",\"bdstoken\":\"" + account->spec.bdstoken + "\",\"is_vip\":0,\"is_svip\":0}}";
  } else {
    locals = "{\"loginstate\":0}";
  }
  r.body =
      "<!DOCTYPE html><html><head><meta "
      "charset=\"utf-8\"><title>百度网盘-全部文件</title></head>\n<body>"
      "<div id=\"app\"></div>\n<script>var locals=" +
      locals + ";</script>\n</body></html>\n";
  return r;
}

Reply AnswerFollowList(Service& service, const Call& call) {
  if (std::string bad = CheckFollowListQuery(call.entry.query); !bad.empty())
    return service.reject(bad);
  if (std::optional<Reply> refused = service.refuseDeadLogin(call.account)) return *refused;
  Reply r;
  r.body = "{\"errno\":0,\"request_id\":" + service.nextRequestId() +
           ",\"total_count\":0,\"follow_list\":[]}";
  return r;
}

}  // namespace pansift::sim
