// What both back ends need from libcurl before and around every handle: the
// one-time global set-up and the certificates a server must chain to.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>

#include "net/http.h"

namespace pansift {

/// Initialises libcurl once per process; safe to call from any thread.
void EnsureCurlGlobalInit();

/// Makes the handle verify the server against the system's CA store, plus the
/// certificates in the PEM file named by PANSIFT_CA_FILE when that is set and
/// readable. Verification of certificate and host name is switched on here.
void ApplyTrustedCertificates(CURL* handle);

struct ThreadConnections;

/// Lets a GET or HEAD reuse a connection to its origin that an earlier request left
/// open (as a browser does) instead of a new TCP connect and TLS handshake for every
/// request, which cost most of a check task's CPU. Any other method gets a connection
/// of its own, closed after it: libcurl re-sends a request whose reused connection
/// proves to have been closed, which must never happen to an operation that changes
/// the netdisk. Connections are kept per thread and per set of trusted certificates,
/// so one made under an earlier PANSIFT_CA_FILE is never reused.
///
/// A request object holds one of these beside its easy handle: apply() after setting
/// the URL, release() once the handle is cleaned up (the destructor does the same).
class ConnectionReuse {
 public:
  ConnectionReuse() = default;
  ~ConnectionReuse() { release(); }
  ConnectionReuse(const ConnectionReuse&) = delete;
  ConnectionReuse& operator=(const ConnectionReuse&) = delete;

  /// Sets up `handle` for a request of `method` sent from the calling thread; what an
  /// earlier call attached to the same handle is let go first.
  void apply(CURL* handle, std::string_view method);
  /// Gives back the thread's cache once no handle uses it any more (after
  /// curl_easy_cleanup, or after unsetting CURLOPT_SHARE).
  void release();

 private:
  std::shared_ptr<ThreadConnections> owner_;
  std::string trust_;  // the owner's cache in use; empty owner_: none
};

/// Whether a finished transfer produced a reply to hand back: libcurl reported
/// success, or it refused to follow a redirect down to plain http (the redirect
/// itself is then the reply). Anything else, even with part of a body received,
/// is a failed transfer.
bool TransferSucceeded(CURL* handle, CURLcode result);

/// Why a transfer that TransferSucceeded refused brought no reply, for HttpResponse:
/// its kind, and one line with what it concerns (the CA file, or the host and port
/// of the last URL tried) and libcurl's message: the handle's CURLOPT_ERRORBUFFER
/// text `errorBuffer` when it holds one, else the code's own text.
struct TransferError {
  TransferFailure failure = TransferFailure::kNone;
  std::string message;
};
TransferError DescribeTransferFailure(CURL* handle, CURLcode result, const char* errorBuffer);

/// Only the origin of the request URL may see the login: a Cookie header line set
/// with CURLOPT_HTTPHEADER is left out of every request that a redirect sends to
/// another host, port or scheme (libcurl's rule since 7.64, with port and scheme
/// since 7.83), whereas CURLOPT_COOKIE would go to every host of the chain.
static_assert(LIBCURL_VERSION_NUM >= 0x075300,
              "the Cookie header must stay with the first host of a redirect chain");
std::string CookieHeaderLine(std::string_view cookies);

}  // namespace pansift
