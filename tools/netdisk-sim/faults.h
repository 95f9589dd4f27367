// The switchable faults of the simulated service, per endpoint: latency, empty
// and dropped replies, errno 2, rate limits, cut and padded replies, redirects
// away, and the endpoints' own (sign refusals, busy deletes, identity checks).
// Tests and the executable's options set them while the simulator serves.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace pansift::sim {

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

/// Takes one from a "the next N" counter; false when it is used up.
bool TakeOne(std::atomic<int>& counter);

}  // namespace pansift::sim
