#include "service.h"

namespace pansift::sim {

const char* const k414Page =
    "<html>\r\n<head><title>414 Request-URI Too Large</title></head>\r\n<body>\r\n"
    "<center><h1>414 Request-URI Too "
    "Large</h1></center>\r\n<hr><center>nginx</center>\r\n</body>\r\n</html>\r\n";

std::int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Service::Service(SimulatorOptions o) : options(std::move(o)), rng(options.seed) {
  requestId_ = 8990486541227834040ULL + options.seed * 7919;
  log.setLimit(options.logLimit);
}

std::string Service::hostOf(Origin origin) const {
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

std::string Service::originOf(Origin origin) const {
  const HttpsServer* s = origin == Origin::Netdisk    ? netdisk.get()
                         : origin == Origin::Passport ? passport.get()
                                                      : portal.get();
  return s ? "https://" + hostOf(origin) + ":" + std::to_string(s->port()) : std::string();
}

std::string Service::nextRequestId() {
  return std::to_string(requestId_.fetch_add(1 + (requestId_.load() % 7)));
}

std::string Service::errnoReply(int code) {
  return "{\"errno\":" + std::to_string(code) + ",\"request_id\":" + nextRequestId() + "}";
}

std::string Service::rateLimitReply() {
  return "{\"errno\":9019,\"request_id\":" + nextRequestId() +
         ",\"show_msg\":" + JsonString("操作频率太快了，请稍后再试") + "}";
}

Reply Service::reject(const std::string& why) {
  Reply r;
  r.body =
      "{\"errno\":2,\"request_id\":" + nextRequestId() + ",\"show_msg\":" + JsonString(why) + "}";
  r.rejection = why;
  return r;
}

std::optional<Reply> Service::refuseDeadLogin(const Account* account) {
  if (!account || account->spec.login != LoginState::Live) return Reply{.body = errnoReply(-6)};
  return std::nullopt;
}

std::optional<Reply> Service::refuseFileOp(const QueryItems& query, const Account* account) {
  if (std::optional<Reply> refused = refuseDeadLogin(account)) return refused;
  std::string token = QueryValue(query, "bdstoken");
  if (token != account->spec.bdstoken) {
    return Reply{.body = errnoReply(-6),
                 .rejection = "bdstoken '" + token + "' is not the login's"};
  }
  return std::nullopt;
}

std::string Service::drawHex(size_t n) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) out += hex[rng() % 16];
  return out;
}

std::string Service::drawDigits(size_t n) {
  std::string out(1, static_cast<char>('1' + rng() % 9));
  while (out.size() < n) out += static_cast<char>('0' + rng() % 10);
  return out;
}

bool Service::draw(double probability) {
  if (probability <= 0) return false;
  std::lock_guard lock(mutex);
  return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < probability;
}

Account* Service::findAccount(std::string_view userName) const {
  for (const auto& a : accounts) {
    if (a->spec.userName == userName) return a.get();
  }
  return nullptr;
}

Account* Service::accountByCookies(const std::string& cookieHeader) const {
  std::string bduss;
  size_t start = 0;
  while (start < cookieHeader.size()) {
    size_t end = cookieHeader.find(';', start);
    if (end == std::string::npos) end = cookieHeader.size();
    std::string piece = cookieHeader.substr(start, end - start);
    size_t a = piece.find_first_not_of(' ');
    if (a != std::string::npos) {
      piece = piece.substr(a);
      size_t eq = piece.find('=');
      if (eq != std::string::npos && piece.compare(0, eq, "BDUSS") == 0)
        bduss = piece.substr(eq + 1);
    }
    start = end + 1;
  }
  if (bduss.empty()) return nullptr;
  for (const auto& a : accounts) {
    if (a->spec.bduss == bduss) return a.get();
  }
  return nullptr;
}

std::string Service::cookieString(const AccountSpec& spec) {
  return "BAIDUID=" + spec.baiduid + "; BDUSS=" + spec.bduss + "; STOKEN=" + spec.stoken;
}

std::string Service::foreignPath(const Account& account, std::string_view path) const {
  if (account.tree.heldPath(path)) return {};
  for (const auto& other : accounts) {
    if (other.get() != &account && other->tree.heldPath(path))
      return "path " + std::string(path) + " is " + other->spec.userName + "'s";
  }
  return {};
}

std::string Service::foreignId(const Account& account, std::uint64_t fsId) const {
  if (account.tree.heldId(fsId)) return {};
  const std::string id = "fs_id " + std::to_string(fsId);
  for (const auto& other : accounts) {
    if (other.get() != &account && other->tree.heldId(fsId))
      return id + " is " + other->spec.userName + "'s";
  }
  return id + " is no login's";
}

std::string Service::foreignRejection(const Account& account,
                                      const std::vector<std::string>& foreign) {
  if (foreign.empty()) return {};
  std::string text = "names files that are not " + account.spec.userName + "'s: " + foreign[0];
  if (foreign.size() > 1) text += " (and " + std::to_string(foreign.size() - 1) + " more)";
  return text;
}

}  // namespace pansift::sim
