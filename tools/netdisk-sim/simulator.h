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

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "file_tree.h"
#include "request_log.h"

namespace pansift::sim {

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

/// How a cut reply ends after half of its body: the connection is reset, or it
/// stalls (nothing more is sent, the connection stays open) for stallMs.
enum class CutMode { Reset, Stall };

/// A redirect (302) that answers instead of the endpoint, to where a login's
/// cookies must never go: the foreign https listener, the plain-http listener
/// (with "?back=https://..." in the URL), or the request's own URL again (a loop).
enum class RedirectAway { None, Foreign, PlainHttp, Loop };

/// Faults of one endpoint. Counters ("the next N") count down as they fire;
/// probabilities are drawn per request. Safe to change while serving.
struct EndpointFaults {
  std::atomic<int> latencyMs{0};
  std::atomic<int> emptyReplies{0};  // HTTP 200 with an empty body
  std::atomic<double> emptyProbability{0};
  std::atomic<int> dropConnections{0};  // connection closed before any reply byte
  std::atomic<double> dropProbability{0};
  std::atomic<int> cutReplies{0};  // the full length announced, the connection closed halfway
  std::atomic<double> cutProbability{0};  // through the body
  std::atomic<int> errno2Replies{0};      // {"errno":2,...}
  std::atomic<double> errno2Probability{0};
  std::atomic<int> rateLimitRequests{0};  // above N requests per window: the rate-limit reply
  std::atomic<int> rateLimitWindowMs{1000};
  std::atomic<int> maxUrlLength{0};  // a longer request target: the 414 page (0: only the
                                     // HTTP library's own limit of 8192)
  // Faults of the wire (transport_faults.h); cutReplies and cutProbability above
  // end the same way as cutEvery:
  std::atomic<int> cutEvery{0};  // every Nth reply stops half-way (0: none)
  std::atomic<CutMode> cutMode{CutMode::Reset};
  std::atomic<int> stallMs{20000};              // how long a stalled reply holds the connection
  std::atomic<std::uint64_t> inflatedBytes{0};  // the body padded with blanks to N bytes,
                                                // gzip-encoded when the client accepts gzip
  std::atomic<bool> setCookies{false};          // replies carry Set-Cookie headers
  std::atomic<RedirectAway> redirectAway{RedirectAway::None};
  std::atomic<std::uint64_t> replies{0};  // replies written so far (cutEvery counts these)
  void reset();
};

enum class RootRedirect {
  None,        // "/" is the page
  Relative,    // "/" -> 302 "/disk/main"
  Absolute,    // "/" -> 302 "<origin>/disk/main"
  Both,        // "/" -> 302 "/disk/home" -> 302 "<origin>/disk/main"
  NoLocation,  // "/" -> 302 without Location, the page as its body
};

struct RootFaults : EndpointFaults {
  std::atomic<RootRedirect> redirect{RootRedirect::Both};
  std::atomic<bool> deadLoginToPassport{false};  // a dead or unknown login: 302 to the
                                                 // passport's login page instead
  std::atomic<bool> withoutUk{false};            // the user data lacks its "uk" member
};

struct DownloadFaults : EndpointFaults {
  std::atomic<int> signUses{0};           // a sign is refused (112) after N uses; 0: never
  std::atomic<int> signMaxAgeSeconds{0};  // older timestamps are refused (112); 0: never
  // Answers of a well-formed download with a live login, in place of the sign check:
  std::atomic<int> refusedSigns{0};      // the next N answer errno 112 (sign refused)
  std::atomic<int> unknownReplies{0};    // the next N answer an errno the program does not know
  std::atomic<int> rateLimitReplies{0};  // the next N answer the rate-limit reply
};

struct FileManagerFaults : EndpointFaults {
  std::atomic<int> busyDeletes{0};         // the next N deletes answer "busy"
  std::atomic<int> busyCode{111};          // 111: errno 12 with inner 111; 31034: errno 31034
  std::atomic<bool> identityCheck{false};  // deletes answer errno 132
};

struct Faults {
  RootFaults root;
  EndpointFaults followList;
  EndpointFaults list;
  EndpointFaults templateVariable;
  DownloadFaults download;
  FileManagerFaults fileManager;
  EndpointFaults create;
  EndpointFaults login;  // the login pages of all three origins
  /// The faults of an endpoint path ("/", "/api/list", ...), or nullptr.
  EndpointFaults* forEndpoint(std::string_view endpoint);
  /// Every listing of this folder ("/"-rooted UTF-8 path, as the dir value names it)
  /// answers with an empty body, until reset.
  void failListing(std::string_view folder);
  bool listingFails(std::string_view folder) const;
  /// Requests that carry exactly these cookies (to this endpoint path, when one is
  /// given) wait, before anything else is done with them, until releaseHeld()
  /// (reset() and Simulator::stop() release too): a test decides when a request
  /// ends, or the order in which two logins' requests end.
  void holdRequestsOf(std::string cookies, std::string endpoint = {});
  void releaseHeld();
  int heldRequests() const;  // how many wait now
  void waitWhileHeld(std::string_view cookies, std::string_view endpoint);
  void reset();

 private:
  mutable std::mutex failingMutex_;
  std::set<std::string, std::less<>> failingListings_;
  mutable std::mutex holdMutex_;
  std::condition_variable holdChanged_;
  std::string heldCookies_;  // empty: nothing is held
  std::string heldEndpoint_;
  int held_ = 0;
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
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pansift::sim
