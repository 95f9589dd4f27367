// Who a cookie string belongs to: the user data of the service's web page and a
// liveness check of the login.
#pragma once

#include <string>

namespace pansift {

struct AppState;

/// Every text but transferError is local (GBK) text; each may be empty.
struct AccountIdentity {
  std::string userName;   // "*" replaced by "_"
  std::string uk;         // the numeric user id as digits; empty: the login is not valid
  std::string bdstoken;   // the token file operations send
  std::string replyText;  // what a caller may show when the read failed
  /// UTF-8: why the service could not be reached (HttpResponse::error of the last
  /// request), when ServiceUnreachable.
  std::string transferError;
};

/// Reads the identity of `cookies` with up to `attempts` attempts (0 or below: 2).
/// Each attempt fetches the web root page (redirects followed by hand, at most 10,
/// and only within the service's own https origins: the cookie string goes nowhere
/// else, and a redirect elsewhere fails the attempt),
/// reads the user data, then asks getfollowlist whether the login is live: errno 0
/// returns the identity, errno -6 returns it without uk and bdstoken. When no
/// request brought a reply, the log and err.txt say why, and so does
/// app.lastTransferError. Blocking;
/// for worker threads.
AccountIdentity ReadIdentity(AppState& app, const std::string& cookies, int attempts);

/// Whether a failed read got nothing at all from the service (no page, no reply):
/// the service was not reached, which says nothing about the login.
bool ServiceUnreachable(const AccountIdentity& identity);

}  // namespace pansift
