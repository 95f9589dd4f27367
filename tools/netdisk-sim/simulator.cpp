// The simulator's public face: starting and stopping the listeners, and the
// accounts and trees that tests and fixtures set up. The service itself is in
// service.h (state), dispatch.h (answering a request), endpoints.h and
// login_pages.h.
#include "simulator.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "dispatch.h"
#include "service.h"

namespace pansift::sim {

Simulator::Simulator(SimulatorOptions options)
    : service_(std::make_unique<Service>(std::move(options))) {}

Simulator::~Simulator() {
  stop();
}

bool Simulator::start() {
  Service& d = *service_;
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
      HandleRequest(*service_, origin, req, res);
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
  Service& d = *service_;
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
  return service_->originOf(Origin::Netdisk);
}
std::string Simulator::passportOrigin() const {
  return service_->originOf(Origin::Passport);
}
std::string Simulator::portalOrigin() const {
  return service_->originOf(Origin::Portal);
}
std::string Simulator::caFile() const {
  return service_->caFile;
}
std::string Simulator::foreignOrigin() const {
  return service_->bystanders ? service_->bystanders->foreignOrigin() : std::string();
}
std::string Simulator::plainHttpOrigin() const {
  return service_->bystanders ? service_->bystanders->plainHttpOrigin() : std::string();
}

std::string Simulator::addAccount(AccountSpec spec) {
  Service& d = *service_;
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
  std::string cookies = Service::cookieString(spec);
  if (Account* existing = d.findAccount(spec.userName)) {
    existing->spec = std::move(spec);
  } else {
    const std::uint64_t index = d.accounts.size();
    auto account = std::make_unique<Account>(d.options.seed * 1000003 + index,
                                             kFirstFsId + index * kFsIdsPerAccount);
    account->spec = std::move(spec);
    d.accounts.push_back(std::move(account));
  }
  return cookies;
}

std::optional<AccountSpec> Simulator::account(std::string_view userName) const {
  std::lock_guard lock(service_->mutex);
  Account* a = service_->findAccount(userName);
  if (!a) return std::nullopt;
  return a->spec;
}

std::vector<AccountSpec> Simulator::accounts() const {
  std::lock_guard lock(service_->mutex);
  std::vector<AccountSpec> out;
  for (const auto& a : service_->accounts) out.push_back(a->spec);
  return out;
}

std::string Simulator::cookies(std::string_view userName) const {
  std::lock_guard lock(service_->mutex);
  Account* a = service_->findAccount(userName);
  return a ? Service::cookieString(a->spec) : std::string();
}

bool Simulator::setLogin(std::string_view userName, LoginState state) {
  std::lock_guard lock(service_->mutex);
  Account* a = service_->findAccount(userName);
  if (!a) return false;
  a->spec.login = state;
  return true;
}

bool Simulator::withTree(std::string_view userName, const std::function<void(FileTree&)>& work) {
  std::lock_guard lock(service_->mutex);
  Account* a = service_->findAccount(userName);
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
  std::lock_guard lock(service_->mutex);
  Account* a = service_->findAccount(userName);
  if (!a) return std::nullopt;
  return a->tree.find(path);
}

GenerateStats Simulator::generate(std::string_view userName, const GenerateOptions& options) {
  GenerateStats stats;
  withTree(userName, [&](FileTree& t) { stats = t.generate(options); });
  return stats;
}

Faults& Simulator::faults() {
  return service_->faults;
}
RequestLog& Simulator::log() {
  return service_->log;
}

}  // namespace pansift::sim
