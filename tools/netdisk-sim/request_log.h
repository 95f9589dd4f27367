// Every request the simulator received, as received, for tests to assert on.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace httplib {
struct Request;
}

namespace pansift::sim {

/// Where a request arrived: one of the service's origins, or a bystander that a
/// redirect may send a client to (Simulator::foreignOrigin, plainHttpOrigin).
enum class Origin { Netdisk, Passport, Portal, Foreign, PlainHttp };

struct LoggedRequest {
  Origin origin = Origin::Netdisk;
  std::string endpoint;  // the path that chose the handler, e.g. "/api/list"
  std::string method;
  std::string target;  // request target exactly as received: raw path and query
  std::string path;    // raw, the part of target before "?"
  std::string query;   // raw, the part after "?"
  std::string body;
  std::string cookies;  // the Cookie header (the HTTP library decodes %XX in header values)
  std::vector<std::pair<std::string, std::string>> headers;
  std::string account;  // user name of the login the cookies named, if any
  int status = 0;
  std::string reply;      // the reply body, cut at 4 KiB
  std::string fault;      // the fault that answered instead of the endpoint, if any
  std::string rejection;  // why the request was the client's fault, if it was: malformed,
                          // or naming another login's files

  /// The first header of that name (case-insensitive), or "".
  std::string header(std::string_view name) const;
};

/// The entry of a request as received at `origin` (every listener logs alike):
/// all but the endpoint and what the reply says.
LoggedRequest ReceivedRequest(Origin origin, const httplib::Request& request);

class RequestLog {
 public:
  void add(LoggedRequest request);
  std::vector<LoggedRequest> entries() const;
  std::vector<LoggedRequest> entries(std::string_view endpoint) const;
  std::optional<LoggedRequest> last(std::string_view endpoint = {}) const;
  /// Requests per endpoint since start or clear(), also those trimmed from the log.
  std::uint64_t count(std::string_view endpoint) const;
  std::uint64_t total() const;
  /// Requests that were the client's fault (a key missing or wrong, another
  /// login's fs_id or path): those with a rejection.
  std::uint64_t rejected() const;
  /// Every rejected request since start, as "METHOD target [body]: why", for the
  /// check that ends a test: clear() and the entry limit forget none of them. The
  /// first kRejectionsNamed are named, a last line counts the rest.
  std::vector<std::string> rejections() const;
  static constexpr size_t kRejectionsNamed = 20;
  void clear();
  /// Keeps only the newest `limit` entries (counters keep counting).
  void setLimit(size_t limit);

 private:
  mutable std::mutex mutex_;
  std::deque<LoggedRequest> entries_;
  std::map<std::string, std::uint64_t, std::less<>> counts_;
  std::uint64_t total_ = 0;
  std::uint64_t rejected_ = 0;
  std::vector<std::string> rejections_;  // the first kRejectionsNamed since start
  std::uint64_t rejectionsSinceStart_ = 0;
  size_t limit_ = 20000;
};

}  // namespace pansift::sim
