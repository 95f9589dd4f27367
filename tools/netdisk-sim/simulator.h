// The simulated netdisk service: the Netdisk web origin, the passport origin and
// the portal origin, each an HTTPS listener on 127.0.0.1, with accounts, a file
// tree per account, a request log and switchable faults.
//
//   sim::Simulator sim;
//   sim.start();
//   std::string cookies = sim.addAccount({.userName = "测试*用户"});
//   sim.addFile("测试*用户", "/电影/a.mp4", 1024, /*blocked=*/true);
//   sim.faults().download.errno2Probability = 0.5;
//   ... requests to sim.netdiskOrigin(), trusting sim.caFile() ...
//   sim.log().count("/api/download");
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faults.h"
#include "file_tree.h"
#include "request_log.h"

namespace pansift::sim {

class Service;

enum class LoginState {
  Live,
  Expired,  // the web page still shows the user; the API answers errno -6
};

struct AccountSpec {
  std::string userName;  // UTF-8; may hold "*"
  std::string uk;        // digits; empty: drawn
  std::string bdstoken;  // empty: drawn
  std::string bduss;     // the cookie values that identify the login; empty: drawn
  std::string stoken;
  std::string baiduid;
  LoginState login = LoginState::Live;
};

struct SimulatorOptions {
  /// Origins named https://pan.sim.localhost:<port>, passport.sim.localhost and
  /// www.sim.localhost (curl and Chromium resolve *.localhost to loopback), login
  /// cookies with Domain=sim.localhost. Otherwise all three are https://127.0.0.1
  /// on different ports and the login cookies are host cookies, which a browser
  /// sends to every port of the host alike.
  bool hostNames = false;
  int netdiskPort = 0;  // 0: any free port
  int passportPort = 0;
  int portalPort = 0;
  /// Where the certificate (PEM) is written; empty: a file in the temp folder,
  /// removed at stop().
  std::string certFile;
  std::uint64_t seed = 1;   // ids, tokens and fault draws
  size_t logLimit = 20000;  // entries kept (counters keep counting)
  int threads = 32;         // worker threads per listener
};

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  /// Starts the three listeners; false when one cannot bind or the certificate
  /// cannot be written.
  bool start();
  void stop();

  std::string netdiskOrigin() const;
  std::string passportOrigin() const;
  std::string portalOrigin() const;
  /// The PEM file of the self-signed certificate, to trust as a CA.
  std::string caFile() const;
  /// Two bystanders that are not the service and log every request (with its
  /// cookies) as Origin::Foreign or Origin::PlainHttp, endpoint "bystander": an
  /// https listener named "https://localhost:<port>" (the same certificate) and a
  /// plain-http one, "http://127.0.0.1:<port>". Both answer 200 "bystander".
  std::string foreignOrigin() const;
  std::string plainHttpOrigin() const;

  /// Adds (or replaces, by user name) an account; returns its cookie string
  /// ("BAIDUID=...; BDUSS=...; STOKEN=...").
  std::string addAccount(AccountSpec spec);
  std::optional<AccountSpec> account(std::string_view userName) const;
  std::vector<AccountSpec> accounts() const;
  std::string cookies(std::string_view userName) const;
  bool setLogin(std::string_view userName, LoginState state);

  /// Runs `work` on the account's tree under the simulator's lock; false when
  /// there is no such account.
  bool withTree(std::string_view userName, const std::function<void(FileTree&)>& work);
  std::uint64_t addFolder(std::string_view userName, std::string_view path);
  std::uint64_t addFile(std::string_view userName, std::string_view path, std::uint64_t size,
                        bool blocked = false);
  std::optional<EntryInfo> find(std::string_view userName, std::string_view path) const;
  GenerateStats generate(std::string_view userName, const GenerateOptions& options);

  /// Loads accounts and trees from the fixture format (see tests/data/sim/*.json).
  bool loadFixture(const std::string& file, std::string* error = nullptr);
  bool loadFixtureText(std::string_view json, std::string* error = nullptr);

  Faults& faults();
  RequestLog& log();

 private:
  std::unique_ptr<Service> service_;
};

}  // namespace pansift::sim
