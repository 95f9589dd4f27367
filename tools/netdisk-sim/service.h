// The simulated service's state that its endpoints share — accounts with their
// trees and signs, the faults, the request log, the listeners — and what every
// endpoint answers alike: request ids, errno replies, refusals of malformed
// requests and dead logins, and whose a path or an fs_id is.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bystanders.h"
#include "codec.h"
#include "file_tree.h"
#include "https_server.h"
#include "request_log.h"
#include "sign_book.h"
#include "simulator.h"

namespace pansift::sim {

inline constexpr const char* kJson = "application/json; charset=utf-8";
inline constexpr const char* kHtml = "text/html; charset=utf-8";
/// The front end's page for an overlong request target.
extern const char* const k414Page;

/// What an endpoint (or a fault in its place) answers.
struct Reply {
  int status = 200;
  std::string body;
  std::string contentType = kJson;
  std::vector<std::pair<std::string, std::string>> headers;
  bool drop = false;      // the connection is closed without a reply
  std::string rejection;  // why the request is the client's fault, for the log
};

struct Account {
  AccountSpec spec;
  FileTree tree;
  SignBook signs;
  Account(std::uint64_t seed, std::uint64_t firstFsId) : tree(seed, firstFsId) {}
};

/// Each account's tree draws its fs_ids from a range of its own (the first
/// account's from kFirstFsId, the next one's this far above, ...), so that one
/// login's ids never stand for another's files by chance.
inline constexpr std::uint64_t kFsIdsPerAccount = 1'000'000'000'000ULL;

/// One request on its way to its endpoint: the log entry being written (the
/// endpoint may note a fault in it), the decoded query and form body, and the
/// account its cookies name (nullptr: none).
struct Call {
  LoggedRequest& entry;
  QueryItems query;
  QueryItems form;
  Account* account = nullptr;
};

std::int64_t NowSeconds();

class Service {
 public:
  explicit Service(SimulatorOptions o);

  std::string originOf(Origin origin) const;

  std::string nextRequestId();
  /// {"errno":code,"request_id":...}
  std::string errnoReply(int code);
  /// The service's answer to requests that come too fast.
  std::string rateLimitReply();
  /// A malformed request: errno 2 with the reason, logged as rejected.
  Reply reject(const std::string& why);
  /// An unknown or expired login gets the -6 reply from every API endpoint.
  std::optional<Reply> refuseDeadLogin(const Account* account);
  /// File operations also need the login's own bdstoken (a wrong one is logged as
  /// a rejection too).
  std::optional<Reply> refuseFileOp(const QueryItems& query, const Account* account);

  std::string drawHex(size_t n);
  std::string drawDigits(size_t n);
  /// True with `probability`; takes the lock itself (call it without).
  bool draw(double probability);

  Account* findAccount(std::string_view userName) const;
  Account* accountByCookies(const std::string& cookieHeader) const;
  static std::string cookieString(const AccountSpec& spec);

  /// Whose a path or an fs_id is, for a request of `account`. Each account has a
  /// tree of its own, and what its tree holds, or held before a delete or a move
  /// took it away, is the login's own: "" then. A path is another login's when
  /// another tree holds or held it ("path /a is 甲's"); a path no tree knows is
  /// merely missing (""). An fs_id that this tree never held is another login's
  /// or no login's ("fs_id 1 is 甲's", "fs_id 1 is no login's"): the service hands
  /// out ids only in listings of one's own files.
  std::string foreignPath(const Account& account, std::string_view path) const;
  std::string foreignId(const Account& account, std::uint64_t fsId) const;
  /// The log's rejection of a request of `account` that names files in `foreign`
  /// (what foreignPath and foreignId said): the first and how many more; "" for none.
  static std::string foreignRejection(const Account& account,
                                      const std::vector<std::string>& foreign);

  SimulatorOptions options;
  Faults faults;
  RequestLog log;
  mutable std::mutex mutex;  // accounts, trees, signs, rng, windows
  std::vector<std::unique_ptr<Account>> accounts;
  std::mt19937_64 rng;
  struct Window {
    std::chrono::steady_clock::time_point start;
    int count = 0;
  };
  std::map<std::string, Window> windows;  // rate-limit windows per endpoint
  std::unique_ptr<HttpsServer> netdisk, passport, portal;
  std::unique_ptr<Bystanders> bystanders;
  std::atomic<bool> stopping{false};  // ends stalled replies
  std::string caFile;
  bool ownCaFile = false;

 private:
  std::string hostOf(Origin origin) const;

  std::atomic<std::uint64_t> requestId_{0};
};

}  // namespace pansift::sim
