// The platform back end: our own small request object on libcurl that behaves like
// the desktop system's HTTP request object the program was first written for:
// per-phase time-outs, a redirect switch, headers set one by one (a later header of
// the same name replaces the earlier), and only the final response's headers.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/curl_common.h"
#include "net/http.h"

namespace pansift {

class PlatformRequest {
 public:
  PlatformRequest();
  ~PlatformRequest();
  PlatformRequest(const PlatformRequest&) = delete;
  PlatformRequest& operator=(const PlatformRequest&) = delete;

  /// False when the underlying handle could not be created.
  bool isCreated() const { return handle_ != nullptr; }
  /// Milliseconds; 0 means no limit for that phase. Resolving and connecting share
  /// one budget; sending and receiving limit every wait for the next bytes.
  void setTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs);
  /// A named proxy, "host:port".
  void setProxy(const std::string& address);
  /// GET, POST, HEAD, PUT, OPTIONS, DELETE, TRACE or CONNECT.
  void open(std::string_view verb, const std::string& url);
  void setEnableRedirects(bool enable);
  /// target 1: the proxy (sent as Basic); 0: the server.
  void setCredentials(const std::string& user, const std::string& password, int target);
  void setRequestHeader(std::string_view name, std::string_view value);
  /// Performs the exchange; false on any failure (no reply, time-out, TLS, a reply
  /// cut off or larger than kMaxReplyBodyBytes).
  bool send(std::string_view body);

  int status() const { return status_; }
  const std::string& responseBody() const { return body_; }
  /// The final response's header lines, each ending in CR LF, without status line.
  const std::string& allResponseHeaders() const { return headers_; }
  /// Why the last send failed (kNone after one that succeeded).
  TransferError transferError() const;

 private:
  static size_t onBody(char* data, size_t size, size_t count, void* self);
  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                        curl_off_t ulNow);
  bool perform();

  CURL* handle_ = nullptr;
  std::string verb_ = "GET";
  std::vector<std::pair<std::string, std::string>> requestHeaders_;
  int idleLimitMs_ = 0;
  std::chrono::steady_clock::time_point lastActivity_;
  curl_off_t lastDown_ = 0;
  curl_off_t lastUp_ = 0;
  std::string body_;
  std::string headers_;
  int status_ = 0;
  ConnectionReuse reuse_;
  CURLcode result_ = CURLE_OK;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

/// The reply's own cookies: the name=value pair of every "Set-Cookie" line of
/// `headers` in order, attributes dropped, joined by "; ".
std::string ReplyCookies(std::string_view headers);

/// One exchange of SendRequest on the platform back end; `headers` are already
/// prepared, `timeoutMs` -1 keeps the object's own time-outs.
HttpResponse SendWithPlatformRequest(HttpRequest& request, HttpMethod method,
                                     const std::string& headers, int timeoutMs);

}  // namespace pansift
