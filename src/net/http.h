// One HTTP exchange: SendRequest takes an HttpRequest, performs it with the back end
// chosen at start-up and returns an HttpResponse. Blocking, thread-safe, never
// throws; failure is an empty body and status 0.
#pragma once

#include <cstddef>
#include <string>

namespace pansift {

/// The request verb; the numbers are those callers have always used. A value
/// outside 0..7 counts as Get. The curl back end serves only Get and Post.
enum class HttpMethod : int {
  Get = 0,
  Post = 1,
  Head = 2,
  Put = 3,
  Options = 4,
  Delete = 5,
  Trace = 6,
  Connect = 7,
};

/// The verb as sent on the request line ("GET", "POST", ...).
const char* MethodVerb(HttpMethod method);

/// Every text is local (GBK) text; byte strings are raw bytes.
struct HttpRequest {
  std::string url;
  HttpMethod method = HttpMethod::Get;
  std::string body;
  /// Sent instead of `body` when not empty.
  std::string bodyBytes;
  /// The Cookie header value: "a=1; b=2".
  std::string cookies;
  /// Extra header lines "Name: value" joined by CR LF.
  std::string headers;
  bool noRedirect = false;
  /// 0 (or below 1 but not -1): 15 s; -1: the back end's own time-outs; n: n seconds.
  int timeoutSeconds = 0;
  /// When above 0, replaces `timeoutSeconds` with this many milliseconds (tests,
  /// local tools).
  int timeoutMs = 0;
  /// "host:port"; empty for a direct connection.
  std::string proxy;
  std::string proxyUser;
  std::string proxyPassword;
  /// 1: the credentials are for the proxy; 0: for the server.
  int proxyCredentialTarget = 1;
  /// Platform back end: merge the reply's cookies into `cookies` and the response.
  bool mergeCookies = false;
  /// Add the standard headers that `headers` lacks.
  bool completeHeaders = true;
  /// Capitalise the names of `headers` and drop lines without a colon.
  bool normaliseHeaderCase = true;
};

/// Why a transfer brought no reply.
enum class TransferFailure {
  kNone,       // a reply came back
  kCaFile,     // the trusted certificates could not be loaded: the extra CA file
               // (PANSIFT_CA_FILE) is missing, unreadable or holds no certificate
  kUntrusted,  // the server's certificate, or the host name it was issued for, is not trusted
  kOther,      // anything else: no connection, a time-out, a reset, the size cap
};

struct HttpResponse {
  /// The body as received (decompressed by the curl back end); empty on failure,
  /// also when the transfer broke off after part of the body had arrived.
  std::string body;
  /// Platform: the final response's header lines, each ending in CR LF, without
  /// status line. Curl: the raw header blocks of every response, redirects included.
  std::string headers;
  /// 0 when no reply was received.
  int status = 0;
  /// Platform: the reply's own cookies (merged on request). Curl: the request's
  /// cookies updated by the replies.
  std::string cookies;
  /// Why no reply came back, and libcurl's message naming the CA file or the host it
  /// concerns (one line of UTF-8); kNone and empty when a reply came back.
  TransferFailure failure = TransferFailure::kNone;
  std::string error;
};

enum class Transport { Platform, Curl };

/// Chooses the back end of every later SendRequest; called once at start-up with
/// the curl switch of netset.ini, before any worker starts.
void SelectTransport(bool useCurl);
Transport SelectedTransport();

/// The origin ("https://host") in front of "/disk/main" in the curl back end's
/// default Referer; start-up sets it to the Netdisk origin in use. Empty until set.
void SetRefererOrigin(std::string origin);
std::string RefererOrigin();

/// Performs one exchange. May write into the caller's values: empty `headers`
/// become the default User-Agent line, and the platform back end removes a
/// "Cookie:" prefix from `cookies` and, with `mergeCookies`, stores the merge there.
HttpResponse SendRequest(HttpRequest& request);
inline HttpResponse SendRequest(HttpRequest&& request) {
  return SendRequest(request);
}
/// The same with an explicit back end, whatever was selected.
HttpResponse SendRequestVia(Transport transport, HttpRequest& request);

/// Closes the connections that GET requests of every thread left open for reuse (see
/// ConnectionReuse in net/curl_common.h); one in use by a request closes as that
/// request ends. For a server that is about to stop, which would otherwise wait for
/// them to time out. Safe to call while other threads send requests.
void CloseIdleConnections();

/// The User-Agent line empty headers become: a desktop browser's.
inline constexpr const char* kDefaultUserAgentLine =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/94.0.4606.71 Safari/537.36";

/// The largest reply body either back end accepts, counted after decompression.
/// Far above any real reply; a larger one (a gzip bomb, a runaway server) is a
/// failed transfer rather than a process that runs out of memory.
inline constexpr size_t kMaxReplyBodyBytes = 64u * 1024 * 1024;

}  // namespace pansift
