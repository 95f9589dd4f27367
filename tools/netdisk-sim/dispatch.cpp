#include "dispatch.h"

#include <openssl/ssl.h>
#include <sys/socket.h>

#include <thread>

#include "endpoints.h"
#include "login_pages.h"
#include "transport_faults.h"

namespace pansift::sim {
namespace {

// The endpoint a path reaches: the web page's paths are all "/", the login pages
// of every origin are "login", the portal's page is "portal".
std::string EndpointOf(Origin origin, const std::string& rawPath) {
  if (origin == Origin::Netdisk) {
    if (rawPath == "/" || rawPath == "/disk/home" || rawPath == "/disk/main" ||
        rawPath == "/mbox/homepage")
      return "/";
    if (rawPath == "/login") return "login";
    return rawPath;
  }
  if (origin == Origin::Passport)
    return rawPath.rfind("/v2/", 0) == 0 || rawPath == "/" ? "login" : rawPath;
  return rawPath == "/" ? "portal" : rawPath;
}

// Applies the endpoint's faults; true when a fault answered instead of the endpoint.
bool ApplyFaults(Service& service, EndpointFaults& f, const std::string& endpoint,
                 const httplib::Request& req, Reply& reply, std::string& fault) {
  if (int ms = f.latencyMs.load(); ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  if (int limit = f.maxUrlLength.load();
      limit > 0 && req.target.size() > static_cast<size_t>(limit)) {
    fault = "url length";
    reply.status = 414;
    reply.contentType = kHtml;
    reply.body = k414Page;
    return true;
  }
  if (TakeOne(f.dropConnections) || service.draw(f.dropProbability.load())) {
    fault = "drop";
    reply.drop = true;
    return true;
  }
  if (TakeOne(f.emptyReplies) || service.draw(f.emptyProbability.load())) {
    fault = "empty";
    reply.contentType = kHtml;
    return true;
  }
  if (int n = f.rateLimitRequests.load(); n > 0) {
    bool limited = false;
    {
      std::lock_guard lock(service.mutex);
      Service::Window& w = service.windows[endpoint];
      auto now = std::chrono::steady_clock::now();
      if (w.count == 0 || now - w.start >= std::chrono::milliseconds(f.rateLimitWindowMs.load())) {
        w.start = now;
        w.count = 0;
      }
      limited = ++w.count > n;
    }
    if (limited) {
      fault = "rate limit";
      reply.body = service.rateLimitReply();
      return true;
    }
  }
  if (TakeOne(f.errno2Replies) || service.draw(f.errno2Probability.load())) {
    fault = "errno 2";
    reply.body = service.errnoReply(2);
    return true;
  }
  return false;
}

// The redirect fault: a 302 to where the login must not go, instead of the endpoint.
bool RedirectAwayFault(Service& service, EndpointFaults& f, const httplib::Request& req,
                       Reply& reply, std::string& fault) {
  const Bystanders* bystanders = service.bystanders.get();
  AwayOrigins away{bystanders ? bystanders->foreignOrigin() : "",
                   bystanders ? bystanders->plainHttpOrigin() : "",
                   service.originOf(Origin::Netdisk)};
  std::string location = AwayLocation(f.redirectAway.load(), away, req.target);
  if (location.empty()) return false;
  fault = "redirect away";
  reply.status = 302;
  reply.contentType = kHtml;
  reply.headers.emplace_back("Location", location);
  reply.body = "<html><body>Found</body></html>";
  return true;
}

Reply Route(Service& service, Origin origin, LoggedRequest& entry) {
  std::lock_guard lock(service.mutex);
  const bool get = entry.method == "GET" || entry.method == "HEAD";
  const bool post = entry.method == "POST";
  Call call{entry, ParseQuery(entry.query), post ? ParseQuery(entry.body) : QueryItems{},
            service.accountByCookies(entry.cookies)};
  if (call.account) entry.account = call.account->spec.userName;
  const std::string& ep = entry.endpoint;
  if (origin == Origin::Netdisk) {
    if (ep == "/" && get) return AnswerRootPage(service, call);
    if (ep == "/mbox/relation/getfollowlist" && get) return AnswerFollowList(service, call);
    if (ep == "/api/list" && get) return AnswerList(service, call);
    if (ep == "/api/gettemplatevariable" && get) return AnswerTemplateVariable(service, call);
    if (ep == "/api/download" && get) return AnswerDownload(service, call);
    if (ep == "/api/filemanager" && post) return AnswerFileManager(service, call);
    if (ep == "/api/create" && post) return AnswerCreate(service, call);
    const std::string redirectUrl = QueryValue(call.query, "redirecturl");
    if (ep == "login" && get) return LoginPage(service, "/login", redirectUrl, "");
    if (ep == "login" && post) return DoLogin(service, call.form, redirectUrl);
  } else if (origin == Origin::Passport) {
    if (ep == "login" && get)
      return LoginPage(service, "/v2/api/?login", QueryValue(call.query, "u"), "");
    if (ep == "login" && post) return DoLogin(service, call.form, "");
  } else if (ep == "portal" && get) {
    return PortalPage(service, call.account);
  }
  Reply r;
  r.status = 404;
  r.contentType = kHtml;
  r.body =
      "<html><head><title>404 Not Found</title></head><body><h1>404 Not Found</h1></body></html>";
  // A browser showing a login page asks its origin for an icon by itself: not a
  // request of the client's, so not its fault.
  if (!(get && entry.path == "/favicon.ico"))
    r.rejection = "no such endpoint: " + entry.method + " " + entry.path;
  return r;
}

}  // namespace

void HandleRequest(Service& service, Origin origin, const httplib::Request& req,
                   httplib::Response& res) {
  LoggedRequest entry = ReceivedRequest(origin, req);
  entry.endpoint = EndpointOf(origin, entry.path);
  service.faults.waitWhileHeld(entry.cookies, entry.endpoint);

  Reply reply;
  EndpointFaults* f = service.faults.forEndpoint(entry.endpoint);
  if (entry.endpoint == "/api/list" &&
      service.faults.listingFails(QueryValue(ParseQuery(entry.query), "dir"))) {
    entry.fault = "failing folder";
    reply.contentType = kHtml;
  } else if (!f || !ApplyFaults(service, *f, entry.endpoint, req, reply, entry.fault)) {
    if (!f || !RedirectAwayFault(service, *f, req, reply, entry.fault))
      reply = Route(service, origin, entry);
  }
  WirePlan wire;
  if (f && !reply.drop) {
    wire = PlanWire(*f);
    wire.cut = wire.cut || service.draw(f->cutProbability.load());
  }
  if (std::string text = wire.describe(); !text.empty())
    entry.fault += (entry.fault.empty() ? "" : ", ") + text;
  entry.status = reply.drop ? 0 : reply.status;
  entry.reply = reply.body.substr(0, 4096);
  entry.rejection = reply.rejection;
  service.log.add(std::move(entry));

  if (reply.drop) {
    if (req.ssl) ::shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
    res.status = 500;
    return;
  }
  WriteWireReply(wire, req, res, reply.status, reply.body, reply.contentType, reply.headers,
                 service.stopping);
}

}  // namespace pansift::sim
