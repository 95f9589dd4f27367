#include "simulator.h"

#include <openssl/ssl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "bystanders.h"
#include "codec.h"
#include "https_server.h"
#include "query_checks.h"
#include "sign_book.h"
#include "transport_faults.h"

namespace pansift::sim {
namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";

const char* const k414Page =
    "<html>\r\n<head><title>414 Request-URI Too Large</title></head>\r\n<body>\r\n"
    "<center><h1>414 Request-URI Too "
    "Large</h1></center>\r\n<hr><center>nginx</center>\r\n</body>\r\n</html>\r\n";

// JavaScript the web page would run to sign; the service sends it as sign2.
const char* const kSign2 =
    "function s(j,r){var a=[];var p=[];var o=\"\";var v=j.length;for(var "
    "q=0;q<256;q++){a[q]=j.substr((q%v),1)."
    "charCodeAt(0);p[q]=q}for(var u=q=0;q<256;q++){u=(u+p[q]+a[q])%256;var "
    "t=p[q];p[q]=p[u];p[u]=t}for(var i=u=q=0;"
    "q<r.length;q++){i=(i+1)%256;u=(u+p[i])%256;var "
    "t=p[i];p[i]=p[u];p[u]=t;k=p[((p[i]+p[u])%256)];o+=String."
    "fromCharCode(r.charCodeAt(q)^k)}return o};";

struct Reply {
  int status = 200;
  std::string body;
  std::string contentType = kJson;
  std::vector<std::pair<std::string, std::string>> headers;
  bool drop = false;
  std::string rejection;
};

std::int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string HtmlEscape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Raw value of a key in a raw query, without decoding.
std::string RawQueryValue(std::string_view raw, std::string_view key) {
  size_t start = 0;
  while (start <= raw.size()) {
    size_t end = raw.find('&', start);
    if (end == std::string_view::npos) end = raw.size();
    std::string_view piece = raw.substr(start, end - start);
    size_t eq = piece.find('=');
    if (piece.substr(0, eq) == key)
      return std::string(eq == std::string_view::npos ? "" : piece.substr(eq + 1));
    start = end + 1;
  }
  return {};
}

// The shape of a filelist: a delete names paths, a move names objects with a path
// and a dest (ondup and newname, when given, are strings too). "" when it fits.
std::string CheckFileList(const JsonValue& list, bool isDelete) {
  for (const JsonValue& item : list.items) {
    if (isDelete) {
      if (item.type != JsonValue::Type::String) return "filelist of a delete is not of paths";
      continue;
    }
    auto isString = [&](std::string_view key, bool required) {
      const JsonValue* v = item.get(key);
      return v ? v->type == JsonValue::Type::String : !required;
    };
    if (!item.isObject() || !isString("path", true) || !isString("dest", true) ||
        !isString("ondup", false) || !isString("newname", false))
      return "filelist of a move is not of {path,dest,ondup,newname}";
  }
  return {};
}

// A file operation touches the entry whose own path the value is, byte for byte:
// no trailing slash or other form of the path stands for it.
bool IsExactPath(const FileTree& tree, const std::string& path) {
  std::optional<EntryInfo> entry = tree.find(path);
  return entry && entry->path == path;
}

int Category(const std::string& name, bool isdir) {
  if (isdir) return 6;
  std::string ext =
      name.substr(name.rfind('.') == std::string::npos ? name.size() : name.rfind('.') + 1);
  for (char& c : ext) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (ext == "mp4" || ext == "mkv" || ext == "avi") return 1;
  if (ext == "mp3" || ext == "flac") return 2;
  if (ext == "jpg" || ext == "png" || ext == "gif") return 3;
  if (ext == "txt" || ext == "pdf" || ext == "docx" || ext == "xlsx") return 4;
  if (ext == "exe" || ext == "apk") return 5;
  if (ext == "torrent") return 7;
  return 6;
}

}  // namespace

void EndpointFaults::reset() {
  latencyMs = 0;
  emptyReplies = 0;
  emptyProbability = 0;
  dropConnections = 0;
  dropProbability = 0;
  cutReplies = 0;
  cutProbability = 0;
  errno2Replies = 0;
  errno2Probability = 0;
  rateLimitRequests = 0;
  rateLimitWindowMs = 1000;
  maxUrlLength = 0;
  cutEvery = 0;
  cutMode = CutMode::Reset;
  stallMs = 20000;
  inflatedBytes = 0;
  setCookies = false;
  redirectAway = RedirectAway::None;
  replies = 0;
}

EndpointFaults* Faults::forEndpoint(std::string_view endpoint) {
  if (endpoint == "/") return &root;
  if (endpoint == "/mbox/relation/getfollowlist") return &followList;
  if (endpoint == "/api/list") return &list;
  if (endpoint == "/api/gettemplatevariable") return &templateVariable;
  if (endpoint == "/api/download") return &download;
  if (endpoint == "/api/filemanager") return &fileManager;
  if (endpoint == "/api/create") return &create;
  if (endpoint == "login") return &login;
  return nullptr;
}

void Faults::failListing(std::string_view folder) {
  std::lock_guard lock(failingMutex_);
  failingListings_.emplace(folder);
}

bool Faults::listingFails(std::string_view folder) const {
  std::lock_guard lock(failingMutex_);
  return failingListings_.find(folder) != failingListings_.end();
}

void Faults::holdRequestsOf(std::string cookies, std::string endpoint) {
  std::lock_guard lock(holdMutex_);
  heldCookies_ = std::move(cookies);
  heldEndpoint_ = std::move(endpoint);
}

void Faults::releaseHeld() {
  {
    std::lock_guard lock(holdMutex_);
    heldCookies_.clear();
  }
  holdChanged_.notify_all();
}

int Faults::heldRequests() const {
  std::lock_guard lock(holdMutex_);
  return held_;
}

void Faults::waitWhileHeld(std::string_view cookies, std::string_view endpoint) {
  std::unique_lock lock(holdMutex_);
  auto held = [&] {
    return !heldCookies_.empty() && cookies == heldCookies_ &&
           (heldEndpoint_.empty() || endpoint == heldEndpoint_);
  };
  if (!held()) return;
  ++held_;
  holdChanged_.wait(lock, [&] { return !held(); });
  --held_;
}

void Faults::reset() {
  {
    std::lock_guard lock(failingMutex_);
    failingListings_.clear();
  }
  releaseHeld();
  for (EndpointFaults* f : {static_cast<EndpointFaults*>(&root), &followList, &list,
                            &templateVariable, static_cast<EndpointFaults*>(&download),
                            static_cast<EndpointFaults*>(&fileManager), &create, &login}) {
    f->reset();
  }
  root.redirect = RootRedirect::Both;
  root.deadLoginToPassport = false;
  root.withoutUk = false;
  download.signUses = 0;
  download.signMaxAgeSeconds = 0;
  download.refusedSigns = 0;
  download.unknownReplies = 0;
  download.rateLimitReplies = 0;
  fileManager.busyDeletes = 0;
  fileManager.busyCode = 111;
  fileManager.identityCheck = false;
}

struct Simulator::Impl {
  struct Account {
    AccountSpec spec;
    FileTree tree;
    SignBook signs;
    explicit Account(std::uint64_t seed) : tree(seed) {}
  };
  struct Window {
    std::chrono::steady_clock::time_point start;
    int count = 0;
  };

  SimulatorOptions options;
  Faults faults;
  RequestLog log;
  mutable std::mutex mutex;  // accounts, trees, signs, rng, windows
  std::vector<std::unique_ptr<Account>> accounts;
  std::mt19937_64 rng;
  std::map<std::string, Window> windows;
  std::atomic<std::uint64_t> requestId{0};
  std::unique_ptr<HttpsServer> netdisk, passport, portal;
  std::unique_ptr<Bystanders> bystanders;
  std::atomic<bool> stopping{false};  // ends stalled replies
  std::string caFile;
  bool ownCaFile = false;

  explicit Impl(SimulatorOptions o) : options(std::move(o)), rng(options.seed) {
    requestId = 8990486541227834040ULL + options.seed * 7919;
    log.setLimit(options.logLimit);
  }

  std::string hostOf(Origin origin) const {
    if (!options.hostNames) return "127.0.0.1";
    switch (origin) {
      case Origin::Netdisk:
        return "pan.sim.localhost";
      case Origin::Passport:
        return "passport.sim.localhost";
      case Origin::Portal:
        return "www.sim.localhost";
      case Origin::Foreign:
      case Origin::PlainHttp:
        break;
    }
    return "127.0.0.1";
  }
  std::string originOf(Origin origin) const {
    const HttpsServer* s = origin == Origin::Netdisk    ? netdisk.get()
                           : origin == Origin::Passport ? passport.get()
                                                        : portal.get();
    return s ? "https://" + hostOf(origin) + ":" + std::to_string(s->port()) : std::string();
  }

  std::string nextRequestId() {
    return std::to_string(requestId.fetch_add(1 + (requestId.load() % 7)));
  }
  std::string errnoReply(int code) {
    return "{\"errno\":" + std::to_string(code) + ",\"request_id\":" + nextRequestId() + "}";
  }

  std::string drawHex(size_t n) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) out += hex[rng() % 16];
    return out;
  }
  std::string drawDigits(size_t n) {
    std::string out(1, static_cast<char>('1' + rng() % 9));
    while (out.size() < n) out += static_cast<char>('0' + rng() % 10);
    return out;
  }
  bool draw(double probability) {
    if (probability <= 0) return false;
    std::lock_guard lock(mutex);
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < probability;
  }

  Account* findAccount(std::string_view userName) const {
    for (const auto& a : accounts) {
      if (a->spec.userName == userName) return a.get();
    }
    return nullptr;
  }
  Account* accountByCookies(const std::string& cookieHeader) const {
    std::string bduss;
    for (const auto& [k, v] : parseCookies(cookieHeader)) {
      if (k == "BDUSS") bduss = v;
    }
    if (bduss.empty()) return nullptr;
    for (const auto& a : accounts) {
      if (a->spec.bduss == bduss) return a.get();
    }
    return nullptr;
  }
  static std::vector<std::pair<std::string, std::string>> parseCookies(const std::string& header) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t start = 0;
    while (start < header.size()) {
      size_t end = header.find(';', start);
      if (end == std::string::npos) end = header.size();
      std::string piece = header.substr(start, end - start);
      size_t a = piece.find_first_not_of(' ');
      if (a != std::string::npos) {
        piece = piece.substr(a);
        size_t eq = piece.find('=');
        if (eq != std::string::npos) out.emplace_back(piece.substr(0, eq), piece.substr(eq + 1));
      }
      start = end + 1;
    }
    return out;
  }
  static std::string cookieString(const AccountSpec& s) {
    return "BAIDUID=" + s.baiduid + "; BDUSS=" + s.bduss + "; STOKEN=" + s.stoken;
  }

  // ---- faults ----

  // Applies the endpoint's faults; true when a fault answered instead of the endpoint.
  bool applyFaults(EndpointFaults& f, const std::string& endpoint, const httplib::Request& req,
                   Reply& reply, std::string& fault) {
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
    if (takeOne(f.dropConnections) || draw(f.dropProbability.load())) {
      fault = "drop";
      reply.drop = true;
      return true;
    }
    if (takeOne(f.emptyReplies) || draw(f.emptyProbability.load())) {
      fault = "empty";
      reply.contentType = kHtml;
      return true;
    }
    if (int n = f.rateLimitRequests.load(); n > 0) {
      bool limited = false;
      {
        std::lock_guard lock(mutex);
        Window& w = windows[endpoint];
        auto now = std::chrono::steady_clock::now();
        if (w.count == 0 ||
            now - w.start >= std::chrono::milliseconds(f.rateLimitWindowMs.load())) {
          w.start = now;
          w.count = 0;
        }
        limited = ++w.count > n;
      }
      if (limited) {
        fault = "rate limit";
        reply.body = rateLimitReply();
        return true;
      }
    }
    if (takeOne(f.errno2Replies) || draw(f.errno2Probability.load())) {
      fault = "errno 2";
      reply.body = errnoReply(2);
      return true;
    }
    return false;
  }
  std::string rateLimitReply() {
    return "{\"errno\":9019,\"request_id\":" + nextRequestId() +
           ",\"show_msg\":" + JsonString("操作频率太快了，请稍后再试") + "}";
  }
  static bool takeOne(std::atomic<int>& counter) {
    int n = counter.load();
    while (n > 0) {
      if (counter.compare_exchange_weak(n, n - 1)) return true;
    }
    return false;
  }

  // ---- dispatch ----

  static std::string endpointOf(Origin origin, const std::string& rawPath) {
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

  void handle(Origin origin, const httplib::Request& req, httplib::Response& res) {
    LoggedRequest entry;
    entry.origin = origin;
    entry.method = req.method;
    entry.target = req.target;
    size_t q = req.target.find('?');
    entry.path = req.target.substr(0, q);
    entry.query = q == std::string::npos ? "" : req.target.substr(q + 1);
    entry.body = req.body;
    entry.cookies = req.get_header_value("Cookie");
    for (const auto& [k, v] : req.headers) entry.headers.emplace_back(k, v);
    entry.endpoint = endpointOf(origin, entry.path);
    faults.waitWhileHeld(entry.cookies, entry.endpoint);

    Reply reply;
    EndpointFaults* f = faults.forEndpoint(entry.endpoint);
    if (entry.endpoint == "/api/list" &&
        faults.listingFails(QueryValue(ParseQuery(entry.query), "dir"))) {
      entry.fault = "failing folder";
      reply.contentType = kHtml;
    } else if (!f || !applyFaults(*f, entry.endpoint, req, reply, entry.fault)) {
      if (!f || !redirectAway(*f, req, reply, entry.fault)) reply = route(origin, entry, req);
    }
    WirePlan wire;
    if (f && !reply.drop) {
      wire = PlanWire(*f);
      wire.cut = wire.cut || draw(f->cutProbability.load());
    }
    if (std::string text = wire.describe(); !text.empty())
      entry.fault += (entry.fault.empty() ? "" : ", ") + text;
    entry.status = reply.drop ? 0 : reply.status;
    entry.reply = reply.body.substr(0, 4096);
    entry.rejection = reply.rejection;
    log.add(std::move(entry));

    if (reply.drop) {
      if (req.ssl) ::shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
      res.status = 500;
      return;
    }
    WriteWireReply(wire, req, res, reply.status, reply.body, reply.contentType, reply.headers,
                   stopping);
  }

  // The redirect fault: a 302 to where the login must not go, instead of the endpoint.
  bool redirectAway(EndpointFaults& f, const httplib::Request& req, Reply& reply,
                    std::string& fault) {
    AwayOrigins away{bystanders ? bystanders->foreignOrigin() : "",
                     bystanders ? bystanders->plainHttpOrigin() : "", originOf(Origin::Netdisk)};
    std::string location = AwayLocation(f.redirectAway.load(), away, req.target);
    if (location.empty()) return false;
    fault = "redirect away";
    reply.status = 302;
    reply.contentType = kHtml;
    reply.headers.emplace_back("Location", location);
    reply.body = "<html><body>Found</body></html>";
    return true;
  }

  Reply route(Origin origin, LoggedRequest& entry, const httplib::Request& req) {
    std::lock_guard lock(mutex);
    Account* account = accountByCookies(entry.cookies);
    if (account) entry.account = account->spec.userName;
    QueryItems query = ParseQuery(entry.query);
    const std::string& ep = entry.endpoint;
    bool get = req.method == "GET" || req.method == "HEAD";
    bool post = req.method == "POST";
    if (origin == Origin::Netdisk) {
      if (ep == "/" && get) return rootPage(entry.path, account);
      if (ep == "/mbox/relation/getfollowlist" && get) return followList(entry.query, account);
      if (ep == "/api/list" && get) return listing(entry.query, query, account);
      if (ep == "/api/gettemplatevariable" && get) return templateVariable(entry, query, account);
      if (ep == "/api/download" && get) return download(entry, query, account);
      if (ep == "/api/filemanager" && post)
        return fileManager(entry, query, ParseQuery(req.body), account);
      if (ep == "/api/create" && post) return create(entry, query, ParseQuery(req.body), account);
      if (ep == "login" && get) return loginPage("/login", QueryValue(query, "redirecturl"), "");
      if (ep == "login" && post)
        return doLogin(ParseQuery(req.body), QueryValue(query, "redirecturl"));
    } else if (origin == Origin::Passport) {
      if (ep == "login" && get) return loginPage("/v2/api/?login", QueryValue(query, "u"), "");
      if (ep == "login" && post) return doLogin(ParseQuery(req.body), "");
    } else if (ep == "portal" && get) {
      return portalPage(account);
    }
    Reply r;
    r.status = 404;
    r.contentType = kHtml;
    r.body =
        "<html><head><title>404 Not Found</title></head><body><h1>404 Not Found</h1></body></html>";
    r.rejection = "no such endpoint: " + req.method + " " + entry.path;
    return r;
  }

  Reply reject(const std::string& why) {
    Reply r;
    r.body =
        "{\"errno\":2,\"request_id\":" + nextRequestId() + ",\"show_msg\":" + JsonString(why) + "}";
    r.rejection = why;
    return r;
  }
  static bool loginLive(const Account* a) { return a && a->spec.login == LoginState::Live; }

  // ---- Netdisk endpoints ----

  Reply rootPage(const std::string& path, const Account* account) {
    Reply r;
    RootRedirect mode = faults.root.redirect.load();
    std::string origin = originOf(Origin::Netdisk);
    if (!loginLive(account) && faults.root.deadLoginToPassport.load()) {
      // The service sends a visitor without a live login to the passport's login page.
      r.status = 302;
      r.contentType = kHtml;
      r.headers.emplace_back("Location", originOf(Origin::Passport) + "/v2/?login&u=" +
                                             PercentEncode(origin + "/disk/main"));
      r.body = "<html><body>Found</body></html>";
      return r;
    }
    if (path == "/" && mode != RootRedirect::None && mode != RootRedirect::NoLocation) {
      r.status = 302;
      r.contentType = kHtml;
      std::string location = mode == RootRedirect::Relative   ? "/disk/main"
                             : mode == RootRedirect::Absolute ? origin + "/disk/main"
                                                              : "/disk/home";
      r.headers.emplace_back("Location", location);
      r.body = "<html><body>Found</body></html>";
      return r;
    }
    if (path == "/disk/home") {
      r.status = 302;
      r.contentType = kHtml;
      r.headers.emplace_back("Location", origin + "/disk/main");
      r.body = "<html><body>Found</body></html>";
      return r;
    }
    if (path == "/" && mode == RootRedirect::NoLocation) r.status = 302;
    r.contentType = kHtml;
    std::string locals;
    if (account) {
      auto text = [](const std::string& s) {
        std::string out;
        for (char c : s) {
          if (c == '"' || c == '\\') out += '\\';
          out += c;
        }
        return out;
      };
      // The page carries the user data as raw UTF-8 inside a script object.
      locals = "{\"loginstate\":1,\"userInfo\":{\"username\":\"" + text(account->spec.userName) +
               "\",\"photo\":\"https:\\/\\/ss0.bdstatic.com\\/avatar.jpg\"" +
               (faults.root.withoutUk.load() ? "" : ",\"uk\":\"" + account->spec.uk + "\"") +
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

  Reply followList(const std::string& rawQuery, const Account* account) {
    if (std::string bad = CheckFollowListQuery(rawQuery); !bad.empty()) return reject(bad);
    if (std::optional<Reply> refused = refuseDeadLogin(account)) return *refused;
    Reply r;
    r.body =
        "{\"errno\":0,\"request_id\":" + nextRequestId() + ",\"total_count\":0,\"follow_list\":[]}";
    return r;
  }

  Reply listing(const std::string& rawQuery, const QueryItems& q, Account* account) {
    // Every key in order, with its value (query_checks.h).
    if (std::string bad = CheckListQuery(rawQuery); !bad.empty()) return reject(bad);
    std::string order = QueryValue(q, "order");
    if (std::optional<Reply> refused = refuseDeadLogin(account)) return *refused;
    Reply r;
    std::string dir = QueryValue(q, "dir");
    std::uint64_t page = std::strtoull(QueryValue(q, "page").c_str(), nullptr, 10);
    std::uint64_t num = std::strtoull(QueryValue(q, "num").c_str(), nullptr, 10);
    if (num > 1000) num = 1000;
    if (!FileTree::validPath(dir)) {
      r.body = errnoReply(-7);
      return r;
    }
    std::vector<EntryInfo> entries;
    FileTree::ListResult result =
        account->tree.list(dir, order, QueryValue(q, "desc") == "1", page, num, entries);
    if (result != FileTree::ListResult::Ok) {
      r.body = errnoReply(-9);
      return r;
    }
    std::string body = "{\"errno\":0,\"guid_info\":\"\",\"list\":[";
    for (size_t i = 0; i < entries.size(); ++i) {
      const EntryInfo& e = entries[i];
      std::string t = std::to_string(e.mtime);
      if (i) body += ',';
      body += "{\"server_filename\":" + JsonString(e.name) + ",\"isdir\":" + (e.isdir ? "1" : "0") +
              ",\"path\":" + JsonString(e.path) + ",\"size\":" + std::to_string(e.size) +
              ",\"fs_id\":" + std::to_string(e.fsId) +
              ",\"category\":" + std::to_string(Category(e.name, e.isdir)) +
              ",\"server_mtime\":" + t + ",\"server_ctime\":" + t + ",\"local_mtime\":" + t +
              ",\"local_ctime\":" + t + ",\"unlist\":0,\"share\":0,\"oper_id\":0";
      if (!e.isdir) {
        std::mt19937_64 md5(e.fsId);
        char buf[33];
        snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(md5()),
                 static_cast<unsigned long long>(md5()));
        body += ",\"md5\":\"" + std::string(buf) + "\"";
      } else {
        body += ",\"dir_empty\":0";
      }
      body += '}';
    }
    body += "],\"request_id\":" + nextRequestId() + ",\"guid\":0}";
    r.body = std::move(body);
    return r;
  }

  Reply templateVariable(const LoggedRequest& entry, const QueryItems& q, Account* account) {
    std::string bad = CheckTemplateVariableQuery(entry.query);
    JsonValue fields;
    if (bad.empty() && (!ParseJson(QueryValue(q, "fields"), fields) || !fields.isArray()))
      bad = "fields is not a JSON array";
    if (!bad.empty()) return reject(bad);
    if (std::optional<Reply> refused = refuseDeadLogin(account)) return *refused;
    Reply r;
    SignBook::Material m = account->signs.issue(rng, NowSeconds());
    auto wanted = [&](std::string_view name) {
      for (const JsonValue& f : fields.items) {
        if (f.text == name) return true;
      }
      return false;
    };
    std::string result;
    auto add = [&](std::string_view name, const std::string& value) {
      if (!wanted(name)) return;
      result += (result.empty() ? "" : ",") + std::string("\"") + std::string(name) + "\":" + value;
    };
    add("sign1", JsonString(m.sign1));
    add("sign2", JsonString(kSign2));
    add("sign3", JsonString(m.sign3));
    add("timestamp", std::to_string(m.timestamp));
    r.body = "{\"errno\":0,\"request_id\":" + nextRequestId() + ",\"result\":{" + result + "}}";
    return r;
  }

  // The download's replies that stand in for the sign check (DownloadFaults).
  std::optional<Reply> downloadFault(LoggedRequest& entry) {
    DownloadFaults& f = faults.download;
    if (takeOne(f.rateLimitReplies)) {
      entry.fault = "rate limit";
      return Reply{.body = rateLimitReply()};
    }
    if (takeOne(f.unknownReplies)) {
      entry.fault = "unknown reply";
      return Reply{.body = "{\"errno\":31045,\"request_id\":" + nextRequestId() +
                           ",\"show_msg\":" + JsonString("未知错误") + "}"};
    }
    if (takeOne(f.refusedSigns)) {
      entry.fault = "sign refused";
      return Reply{.body = errnoReply(112)};
    }
    return std::nullopt;
  }

  Reply download(LoggedRequest& entry, const QueryItems& q, Account* account) {
    std::string bad = CheckDownloadQuery(entry.query);
    JsonValue fidlist;
    if (bad.empty() && (!ParseJson(QueryValue(q, "fidlist"), fidlist) || !fidlist.isArray() ||
                        fidlist.items.empty()))
      bad = "fidlist is not a JSON array of ids";
    if (bad.empty() && RawQueryValue(entry.query, "fidlist").rfind("%5B", 0) != 0)
      bad = "fidlist is not encoded";
    if (!bad.empty()) return reject(bad);
    if (std::optional<Reply> refused = refuseDeadLogin(account)) return *refused;
    if (std::optional<Reply> fault = downloadFault(entry)) return *fault;
    Reply r;
    std::int64_t timestamp = std::strtoll(QueryValue(q, "timestamp").c_str(), nullptr, 10);
    switch (account->signs.check(QueryValue(q, "sign"), timestamp, NowSeconds(),
                                 faults.download.signUses.load(),
                                 faults.download.signMaxAgeSeconds.load())) {
      case SignBook::Verdict::kAccepted:
        break;
      case SignBook::Verdict::kExpired:
        r.body = errnoReply(112);
        return r;
      case SignBook::Verdict::kUnknown:
        r.body = errnoReply(113);
        return r;
      case SignBook::Verdict::kForeignTimestamp:
        // The client paired a sign with the timestamp of another fetch: its fault.
        r.body = errnoReply(113);
        r.rejection = "sign sent with the timestamp of another fetch";
        return r;
    }

    std::vector<std::uint64_t> ids;
    for (const JsonValue& v : fidlist.items)
      ids.push_back(std::strtoull(v.text.c_str(), nullptr, 10));
    for (std::uint64_t id : ids) {
      auto e = account->tree.findById(id);
      if (e && e->blocked) {
        r.body = errnoReply(-1);
        return r;
      }
    }
    std::string links;
    for (std::uint64_t id : ids) {
      auto e = account->tree.findById(id);
      if (!e || e->isdir) continue;
      std::string fid = std::to_string(id);
      links += (links.empty() ? "" : ",") + std::string("{\"fs_id\":\"") + fid + "\",\"dlink\":" +
               JsonString(originOf(Origin::Netdisk) + "/file/" + fid + "?fid=" + account->spec.uk +
                          "-250528-" + fid + "&dstime=" + std::to_string(timestamp)) +
               "}";
    }
    r.body = "{\"errno\":0,\"request_id\":" + nextRequestId() + ",\"dlink\":[" + links + "]}";
    return r;
  }

  // An unknown or expired login gets the -6 reply from every API endpoint.
  std::optional<Reply> refuseDeadLogin(const Account* account) {
    if (!loginLive(account)) return Reply{.body = errnoReply(-6)};
    return std::nullopt;
  }

  // File operations also need the login's own bdstoken (a wrong one is logged as a
  // rejection too).
  std::optional<Reply> refuseFileOp(const QueryItems& q, const Account* account) {
    if (std::optional<Reply> refused = refuseDeadLogin(account)) return refused;
    std::string token = QueryValue(q, "bdstoken");
    if (token != account->spec.bdstoken) {
      return Reply{.body = errnoReply(-6),
                   .rejection = "bdstoken '" + token + "' is not the login's"};
    }
    return std::nullopt;
  }

  Reply fileManager(const LoggedRequest& entry, const QueryItems& q, const QueryItems& form,
                    Account* account) {
    std::string bad = CheckFileManagerQuery(entry.query);
    std::string opera = QueryValue(q, "opera");
    std::string async = QueryValue(q, "async");
    JsonValue list;
    bool hasList = false;
    std::string listText = QueryValue(form, "filelist", &hasList);
    if (bad.empty() &&
        (!hasList || !ParseJson(listText, list) || !list.isArray() || list.items.empty()))
      bad = "filelist is not a JSON array";
    if (bad.empty()) bad = CheckFileList(list, opera == "delete");
    if (!bad.empty()) return reject(bad);
    if (std::optional<Reply> refused = refuseFileOp(q, account)) return *refused;
    Reply r;
    std::string rid = nextRequestId();
    std::string info;
    bool allOk = true;
    auto addInfo = [&](int code, const std::string& path) {
      if (code != 0) allOk = false;
      info += (info.empty() ? "" : ",") + std::string("{\"errno\":") + std::to_string(code) +
              ",\"path\":" + JsonString(path) + "}";
    };
    if (opera == "delete") {
      std::string first =
          list.items[0].type == JsonValue::Type::String ? list.items[0].text : std::string();
      if (faults.fileManager.identityCheck.load()) {
        r.body = "{\"errno\":132,\"request_id\":" + rid +
                 ",\"show_msg\":" + JsonString("为了你的帐号安全，请完成身份验证") + "}";
        return r;
      }
      if (takeOne(faults.fileManager.busyDeletes)) {
        if (faults.fileManager.busyCode.load() == 31034) {
          r.body = "{\"errno\":31034,\"request_id\":" + rid + "}";
        } else {
          r.body = "{\"errno\":12,\"info\":[{\"errno\":111,\"path\":" + JsonString(first) +
                   "}],\"request_id\":" + rid + ",\"taskid\":0}";
        }
        return r;
      }
      for (const JsonValue& item : list.items) {
        const std::string& path = item.text;
        addInfo(IsExactPath(account->tree, path) && account->tree.remove(path) ? 0 : -9, path);
      }
    } else {
      for (const JsonValue& item : list.items) {
        std::string path = item.string("path");
        std::string dest = item.string("dest");
        std::string ondup = item.string("ondup", "fail");
        OnDup mode = ondup == "newcopy"     ? OnDup::NewCopy
                     : ondup == "overwrite" ? OnDup::Overwrite
                                            : OnDup::Fail;
        FileTree::MoveResult moved =
            !IsExactPath(account->tree, path) ? FileTree::MoveResult::SourceMissing
            : !IsExactPath(account->tree, dest)
                ? FileTree::MoveResult::TargetMissing
                : account->tree.move(path, dest, item.string("newname"), mode);
        int code = moved == FileTree::MoveResult::Moved           ? 0
                   : moved == FileTree::MoveResult::SourceMissing ? -9
                   : moved == FileTree::MoveResult::Exists        ? -8
                                                                  : -7;
        addInfo(code, path);
      }
    }
    if (allOk && async != "0") {
      r.body =
          "{\"errno\":0,\"info\":[],\"request_id\":" + rid + ",\"taskid\":" + drawDigits(15) + "}";
      return r;
    }
    r.body = "{\"errno\":" + std::string(allOk ? "0" : "12") + ",\"info\":[" + info +
             "],\"request_id\":" + rid + ",\"taskid\":0}";
    return r;
  }

  Reply create(const LoggedRequest& entry, const QueryItems& q, const QueryItems& form,
               Account* account) {
    std::string bad = CheckCreateQuery(entry.query);
    if (bad.empty()) bad = CheckCreateForm(entry.body);
    if (!bad.empty()) return reject(bad);
    if (std::optional<Reply> refused = refuseFileOp(q, account)) return *refused;
    Reply r;
    std::int64_t now = NowSeconds();
    std::uint64_t fsId = 0;
    std::string created = account->tree.createFolderUnique(QueryValue(form, "path"), now, &fsId);
    if (created.empty()) {
      r.body = errnoReply(-7);
      return r;
    }
    std::string t = std::to_string(now);
    r.body = "{\"fs_id\":" + std::to_string(fsId) + ",\"path\":" + JsonString(created) +
             ",\"ctime\":" + t + ",\"mtime\":" + t +
             ",\"status\":0,\"errno\":0,\"name\":" + JsonString(created) +
             ",\"category\":6,\"isdir\":1,\"request_id\":" + nextRequestId() + "}";
    return r;
  }

  // ---- login pages ----

  Reply loginPage(const std::string& action, const std::string& target,
                  const std::string& message) {
    Reply r;
    r.contentType = kHtml;
    std::string u = HtmlEscape(target);
    std::string act = HtmlEscape(action);
    std::string body =
        "<!DOCTYPE html><html><head><meta "
        "charset=\"utf-8\"><title>百度帐号登录</title></head><body>\n"
        "<h1>登录百度帐号</h1>\n";
    if (!message.empty()) body += "<p id=\"error\">" + HtmlEscape(message) + "</p>\n";
    body += "<form id=\"login\" method=\"post\" action=\"" + act +
            "\">\n<input type=\"hidden\" name=\"u\" value=\"" + u +
            "\">\n<label>用户名 <input type=\"text\" id=\"username\" name=\"username\"></label>\n"
            "<label>密码 <input type=\"password\" id=\"password\" name=\"password\"></label>\n"
            "<button type=\"submit\" id=\"submit\">登录</button>\n</form>\n<ul id=\"accounts\">\n";
    for (const auto& a : accounts) {
      std::string name = HtmlEscape(a->spec.userName);
      body += "<li><form method=\"post\" action=\"" + act +
              "\"><input type=\"hidden\" name=\"u\" value=\"" + u +
              "\"><input type=\"hidden\" name=\"username\" value=\"" + name +
              "\"><button type=\"submit\" class=\"account\" id=\"login-" + a->spec.uk + "\">" +
              name + "</button></form></li>\n";
    }
    body += "</ul>\n</body></html>\n";
    r.body = std::move(body);
    return r;
  }

  Reply doLogin(const QueryItems& form, const std::string& redirectUrl) {
    std::string target = QueryValue(form, "u");
    if (target.empty()) target = redirectUrl;
    if (target.empty()) target = originOf(Origin::Netdisk) + "/disk/main";
    std::string action =
        redirectUrl.empty() ? "/v2/api/?login" : "/login?redirecturl=" + PercentEncode(redirectUrl);
    Account* account = findAccount(QueryValue(form, "username"));
    if (!account) return loginPage(action, target, "用户名或密码有误，请重新输入");
    account->spec.login = LoginState::Live;
    Reply r;
    r.status = 302;
    r.contentType = kHtml;
    r.headers.emplace_back("Location", target);
    std::string attributes = "; expires=Fri, 01 Jan 2100 00:00:00 GMT; path=/";
    if (options.hostNames) attributes += "; domain=.sim.localhost";
    attributes += "; secure";
    r.headers.emplace_back("Set-Cookie", "BAIDUID=" + account->spec.baiduid + attributes);
    r.headers.emplace_back("Set-Cookie",
                           "BDUSS=" + account->spec.bduss + attributes + "; httponly");
    r.headers.emplace_back("Set-Cookie",
                           "STOKEN=" + account->spec.stoken + attributes + "; httponly");
    r.body = "<html><body>Found</body></html>";
    return r;
  }

  Reply portalPage(const Account* account) {
    Reply r;
    r.contentType = kHtml;
    std::string portalOrigin = originOf(Origin::Portal);
    std::string login =
        originOf(Origin::Passport) + "/v2/?login&tpl=mn&u=" + PercentEncode(portalOrigin + "/");
    r.body =
        "<!DOCTYPE html><html><head><meta "
        "charset=\"utf-8\"><title>百度一下，你就知道</title></head><body>\n"
        "<div id=\"top\"><a id=\"netdisk\" target=\"_blank\" href=\"" +
        HtmlEscape(originOf(Origin::Netdisk) + "/disk/main") +
        "\">网盘</a></div>\n<div id=\"right\">" +
        (account ? "<span id=\"user\">" + HtmlEscape(account->spec.userName) + "</span>"
                 : "<a id=\"login\" href=\"" + HtmlEscape(login) + "\">登录</a>") +
        "</div>\n</body></html>\n";
    return r;
  }
};

Simulator::Simulator(SimulatorOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
  stop();
}

bool Simulator::start() {
  Impl& d = *impl_;
  if (d.netdisk) return true;
  Certificate cert =
      MakeSelfSignedCertificate({"localhost", "pan.sim.localhost", "passport.sim.localhost",
                                 "www.sim.localhost", "*.sim.localhost"},
                                {"127.0.0.1"});
  d.caFile = d.options.certFile;
  d.ownCaFile = d.caFile.empty();
  if (d.ownCaFile) {
    std::string templ =
        (std::filesystem::temp_directory_path() / "netdisk-sim-XXXXXX.pem").string();
    int fd = mkstemps(templ.data(), 4);
    if (fd < 0) return false;
    ::close(fd);
    d.caFile = templ;
  }
  if (!WriteTextFile(d.caFile, cert.certPem)) return false;
  d.stopping = false;

  auto make = [&](Origin origin, int port) -> std::unique_ptr<HttpsServer> {
    auto server = std::make_unique<HttpsServer>(cert);
    httplib::Server& http = server->http();
    int threads = d.options.threads > 0 ? d.options.threads : 8;
    http.new_task_queue = [threads] {
      return new httplib::ThreadPool(static_cast<size_t>(threads));
    };
    auto handler = [this, origin](const httplib::Request& req, httplib::Response& res) {
      impl_->handle(origin, req, res);
    };
    http.Get("(.*)", handler);
    http.Post("(.*)", handler);
    // The HTTP library refuses overlong request lines itself; answer like the service's front end.
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.status == 414) res.set_content(k414Page, kHtml);
    });
    if (!server->start(port)) return nullptr;
    return server;
  };
  // The bystanders first: a request may reach the netdisk as soon as it listens, and
  // its redirects name the bystanders' origins.
  d.bystanders = std::make_unique<Bystanders>(d.log);
  bool bystandersStarted = d.bystanders->start(cert);
  d.netdisk = make(Origin::Netdisk, d.options.netdiskPort);
  d.passport = make(Origin::Passport, d.options.passportPort);
  d.portal = make(Origin::Portal, d.options.portalPort);
  if (!bystandersStarted || !d.netdisk || !d.passport || !d.portal) {
    stop();
    return false;
  }
  return true;
}

void Simulator::stop() {
  Impl& d = *impl_;
  d.stopping = true;
  d.faults.releaseHeld();
  for (auto* s : {&d.netdisk, &d.passport, &d.portal}) {
    if (*s) (*s)->stop();
    s->reset();
  }
  // Last: the netdisk's handlers read the bystanders' origins until it has stopped.
  if (d.bystanders) d.bystanders->stop();
  d.bystanders.reset();
  if (d.ownCaFile && !d.caFile.empty()) {
    ::unlink(d.caFile.c_str());
    d.caFile.clear();
  }
}

std::string Simulator::netdiskOrigin() const {
  return impl_->originOf(Origin::Netdisk);
}
std::string Simulator::passportOrigin() const {
  return impl_->originOf(Origin::Passport);
}
std::string Simulator::portalOrigin() const {
  return impl_->originOf(Origin::Portal);
}
std::string Simulator::caFile() const {
  return impl_->caFile;
}
std::string Simulator::foreignOrigin() const {
  return impl_->bystanders ? impl_->bystanders->foreignOrigin() : std::string();
}
std::string Simulator::plainHttpOrigin() const {
  return impl_->bystanders ? impl_->bystanders->plainHttpOrigin() : std::string();
}

std::string Simulator::addAccount(AccountSpec spec) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  if (spec.uk.empty()) spec.uk = d.drawDigits(10);
  if (spec.bdstoken.empty()) spec.bdstoken = d.drawHex(32);
  if (spec.bduss.empty()) {
    static const char* chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-~";
    for (int i = 0; i < 192; ++i) spec.bduss += chars[d.rng() % 64];
  }
  if (spec.stoken.empty()) spec.stoken = d.drawHex(64);
  if (spec.baiduid.empty()) {
    std::string id = d.drawHex(32);
    for (char& c : id) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    spec.baiduid = id + ":FG=1";
  }
  std::string cookies = Impl::cookieString(spec);
  if (Impl::Account* existing = d.findAccount(spec.userName)) {
    existing->spec = std::move(spec);
  } else {
    auto account = std::make_unique<Impl::Account>(d.options.seed * 1000003 + d.accounts.size());
    account->spec = std::move(spec);
    d.accounts.push_back(std::move(account));
  }
  return cookies;
}

std::optional<AccountSpec> Simulator::account(std::string_view userName) const {
  std::lock_guard lock(impl_->mutex);
  Impl::Account* a = impl_->findAccount(userName);
  if (!a) return std::nullopt;
  return a->spec;
}

std::vector<AccountSpec> Simulator::accounts() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<AccountSpec> out;
  for (const auto& a : impl_->accounts) out.push_back(a->spec);
  return out;
}

std::string Simulator::cookies(std::string_view userName) const {
  std::lock_guard lock(impl_->mutex);
  Impl::Account* a = impl_->findAccount(userName);
  return a ? Impl::cookieString(a->spec) : std::string();
}

bool Simulator::setLogin(std::string_view userName, LoginState state) {
  std::lock_guard lock(impl_->mutex);
  Impl::Account* a = impl_->findAccount(userName);
  if (!a) return false;
  a->spec.login = state;
  return true;
}

bool Simulator::withTree(std::string_view userName, const std::function<void(FileTree&)>& work) {
  std::lock_guard lock(impl_->mutex);
  Impl::Account* a = impl_->findAccount(userName);
  if (!a) return false;
  work(a->tree);
  return true;
}

std::uint64_t Simulator::addFolder(std::string_view userName, std::string_view path) {
  std::uint64_t id = 0;
  withTree(userName, [&](FileTree& t) { id = t.addFolder(path, NowSeconds()); });
  return id;
}

std::uint64_t Simulator::addFile(std::string_view userName, std::string_view path,
                                 std::uint64_t size, bool blocked) {
  std::uint64_t id = 0;
  withTree(userName, [&](FileTree& t) { id = t.addFile(path, size, blocked, NowSeconds()); });
  return id;
}

std::optional<EntryInfo> Simulator::find(std::string_view userName, std::string_view path) const {
  std::lock_guard lock(impl_->mutex);
  Impl::Account* a = impl_->findAccount(userName);
  if (!a) return std::nullopt;
  return a->tree.find(path);
}

GenerateStats Simulator::generate(std::string_view userName, const GenerateOptions& options) {
  GenerateStats stats;
  withTree(userName, [&](FileTree& t) { stats = t.generate(options); });
  return stats;
}

Faults& Simulator::faults() {
  return impl_->faults;
}
RequestLog& Simulator::log() {
  return impl_->log;
}

}  // namespace pansift::sim
