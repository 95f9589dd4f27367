// Faults of the wire rather than of the service: replies cut off half-way through
// the body (then reset or stalled), bodies padded to a chosen size (gzip-encoded
// when the client accepts gzip), Set-Cookie headers on ordinary replies, and
// redirects to places the login must never reach.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "faults.h"

namespace pansift::sim {

/// What the wire faults of an endpoint make of one reply; drawn once per reply.
struct WirePlan {
  bool cut = false;
  CutMode cutMode = CutMode::Reset;
  int stallMs = 0;
  std::uint64_t inflatedBytes = 0;
  bool setCookies = false;
  /// The log's fault text ("cut (reset)", "inflated 1048576", ...); "" when none.
  std::string describe() const;
};

/// Draws the plan of the next reply of an endpoint (counts it for cutEvery).
WirePlan PlanWire(EndpointFaults& faults);

/// The Set-Cookie header values the setCookies fault adds.
std::vector<std::string> FaultCookies();

/// Writes a reply into `res` as planned. A stall ends early when `stopping` is set.
void WriteWireReply(const WirePlan& plan, const httplib::Request& req, httplib::Response& res,
                    int status, const std::string& body, const std::string& contentType,
                    const std::vector<std::pair<std::string, std::string>>& headers,
                    const std::atomic<bool>& stopping);

/// The origins a redirect fault may name.
struct AwayOrigins {
  std::string foreign;
  std::string plainHttp;
  std::string netdisk;
};

/// The Location of a redirect fault for a request target, or "" for None.
std::string AwayLocation(RedirectAway away, const AwayOrigins& origins, const std::string& target);

}  // namespace pansift::sim
