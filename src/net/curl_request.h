// The curl back end: one request object around one libcurl easy handle, with
// growable buffers for the reply body, the reply headers and upload data, the
// request header lines and a CookieJar. Used for exactly one exchange.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/cookies.h"
#include "net/curl_common.h"
#include "net/http.h"

namespace pansift {

/// A zero-filled byte area that doubles (needed length × 2) when data does not fit,
/// never beyond its limit.
class GrowBuffer {
 public:
  explicit GrowBuffer(size_t limit = kMaxReplyBodyBytes) : limit_(limit) {}
  /// Appends the bytes; returns their count, or 0 when they would pass the limit or
  /// memory cannot be had (which makes libcurl abort the transfer).
  size_t append(const char* data, size_t count);
  void clear() {
    length_ = 0;
    readPos_ = 0;
  }
  std::string_view view() const { return {data_.get(), length_}; }
  /// Copies up to `count` unread bytes out; 0 at the end.
  size_t read(char* out, size_t count);

 private:
  static constexpr size_t kInitialCapacity = 4096;
  std::unique_ptr<char[]> data_;
  size_t capacity_ = 0;
  size_t length_ = 0;
  size_t readPos_ = 0;
  size_t limit_;
};

class CurlRequest {
 public:
  CurlRequest() = default;
  ~CurlRequest() { destroy(); }
  CurlRequest(const CurlRequest&) = delete;
  CurlRequest& operator=(const CurlRequest&) = delete;

  /// Creates the handle and installs the callbacks; false when libcurl cannot
  /// create one (every later call then does nothing).
  bool init(bool followRedirects = true, bool noSignals = true);
  /// Verification on means peer 1 and host 2.
  void setSslVerify(bool verifyPeer, bool verifyHost);
  void setAcceptEncoding(bool gzip);
  void setTimeoutsMs(long connectMs = 15000, long totalMs = 15000);
  void setFollowRedirects(bool follow);
  /// Clears the buffers and header lines; "GET" (or "") and "POST" choose the verb.
  void open(std::string_view method, const std::string& url);
  /// kind 1 (default) http, 2 socks4, 3 socks5, 4 socks4a, 5 socks5h.
  void setProxy(const std::string& address, int kind = 1, const std::string& user = "",
                const std::string& password = "");
  /// Drops every LF CR pair, trims and splits at CR LF into header lines.
  void setHeaderText(std::string_view text);
  void setCookies(std::string_view cookies) { jar_.set(cookies); }
  /// Both perform the exchange; false when the transfer failed (the reply's
  /// cookies are then not taken into the jar).
  bool sendText(std::string_view body) { return send(body); }
  bool sendBytes(std::string_view bytes) { return send(bytes); }

  std::string responseHeaders() const { return std::string(headerBuffer_.view()); }
  std::string responseCookies() const { return jar_.get(); }
  int status() const;
  std::string responseBody() const { return std::string(bodyBuffer_.view()); }
  const std::vector<std::string>& headerLines() const { return headerLines_; }
  /// Why the last send failed (kNone after one that succeeded).
  TransferError transferError() const;

  void destroy();

 private:
  bool send(std::string_view body);
  static size_t onBody(char* data, size_t size, size_t count, void* self);
  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static size_t onRead(char* out, size_t size, size_t count, void* self);

  CURL* handle_ = nullptr;
  GrowBuffer bodyBuffer_;
  GrowBuffer uploadBuffer_;
  GrowBuffer headerBuffer_;
  std::vector<std::string> headerLines_;
  bool post_ = false;
  int cookieMode_ = 1;
  CookieJar jar_;
  curl_slist* headerList_ = nullptr;
  ConnectionReuse reuse_;
  CURLcode result_ = CURLE_OK;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

/// One exchange of SendRequest on the curl back end; `headers` are already
/// prepared, `timeoutMs` -1 keeps libcurl's own time-outs.
/// A failed transfer gives an empty body and headers, status 0 and the request's
/// cookies, whatever part of the reply had arrived.
HttpResponse SendWithCurl(const HttpRequest& request, HttpMethod method, const std::string& headers,
                          int timeoutMs);

}  // namespace pansift
