#include "net/curl_request.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "net/curl_common.h"
#include "util/text.h"

namespace pansift {

size_t GrowBuffer::append(const char* data, size_t count) {
  if (count > limit_ - length_) return 0;
  if (length_ + count > capacity_ || !data_) {
    size_t needed = length_ + count;
    size_t capacity = std::min(data_ ? needed * 2 : std::max(kInitialCapacity, needed * 2), limit_);
    std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity + 1]());
    if (!grown) return 0;
    if (length_ > 0) std::memcpy(grown.get(), data_.get(), length_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }
  if (count > 0) std::memcpy(data_.get() + length_, data, count);
  length_ += count;
  return count;
}

size_t GrowBuffer::read(char* out, size_t count) {
  size_t n = std::min(count, length_ - readPos_);
  if (n > 0) std::memcpy(out, data_.get() + readPos_, n);
  readPos_ += n;
  return n;
}

size_t CurlRequest::onBody(char* data, size_t size, size_t count, void* self) {
  return static_cast<CurlRequest*>(self)->bodyBuffer_.append(data, size * count);
}

size_t CurlRequest::onHeader(char* data, size_t size, size_t count, void* self) {
  return static_cast<CurlRequest*>(self)->headerBuffer_.append(data, size * count);
}

size_t CurlRequest::onRead(char* out, size_t size, size_t count, void* self) {
  return static_cast<CurlRequest*>(self)->uploadBuffer_.read(out, size * count);
}

bool CurlRequest::init(bool followRedirects, bool noSignals) {
  destroy();
  EnsureCurlGlobalInit();
  handle_ = curl_easy_init();
  if (!handle_) return false;
  curl_easy_setopt(handle_, CURLOPT_PRIVATE, this);
  errorBuffer_[0] = '\0';
  curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer_);
  curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, noSignals ? 1L : 0L);
  curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
  // A redirect loop must end even without a time-out, and redirects never leave http(s).
  curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 30L);
  // HTTP/1.1 keeps header names as the server wrote them: callers search reply
  // headers such as "Location: " case-sensitively, and HTTP/2 lower-cases them.
  curl_easy_setopt(handle_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle_, CURLOPT_PROXY,
                   "");  // direct unless a proxy is named, whatever the environment says
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlRequest::onBody);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &CurlRequest::onHeader);
  curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(handle_, CURLOPT_READFUNCTION, &CurlRequest::onRead);
  curl_easy_setopt(handle_, CURLOPT_READDATA, this);
  bodyBuffer_.clear();
  headerBuffer_.clear();
  uploadBuffer_.clear();
  return true;
}

void CurlRequest::setSslVerify(bool verifyPeer, bool verifyHost) {
  if (!handle_) return;
  if (verifyPeer && verifyHost) {
    ApplyTrustedCertificates(handle_);
    return;
  }
  curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, verifyPeer ? 1L : 0L);
  curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, verifyHost ? 2L : 0L);
}

void CurlRequest::setAcceptEncoding(bool gzip) {
  if (handle_) curl_easy_setopt(handle_, CURLOPT_ACCEPT_ENCODING, gzip ? "gzip" : nullptr);
}

void CurlRequest::setTimeoutsMs(long connectMs, long totalMs) {
  if (!handle_) return;
  curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
  curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, totalMs);
}

void CurlRequest::setFollowRedirects(bool follow) {
  if (handle_) curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
}

void CurlRequest::open(std::string_view method, const std::string& url) {
  bodyBuffer_.clear();
  headerBuffer_.clear();
  uploadBuffer_.clear();
  headerLines_.clear();
  if (!handle_) return;
  if (method.empty() || method == "GET") {
    curl_easy_setopt(handle_, CURLOPT_POST, 0L);
    post_ = false;
  }
  if (method == "POST") {
    curl_easy_setopt(handle_, CURLOPT_POST, 1L);
    post_ = true;
  }
  curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
  reuse_.apply(handle_, method);
  // Login cookies go along on redirects, so an https start never follows into plain http.
  bool secure = FindText(url, "https://", 1, true) == 1;
  curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
}

void CurlRequest::setProxy(const std::string& address, int kind, const std::string& user,
                           const std::string& password) {
  if (!handle_) return;
  static const char* const kSchemes[] = {"Http://",   "Http://",    "Socks4://",
                                         "Socks5://", "Socks4a://", "Socks5h://"};
  const char* scheme = kind >= 1 && kind <= 5 ? kSchemes[kind] : kSchemes[1];
  // Empty credentials are left out rather than sent as an empty Basic login.
  std::string proxy = scheme;
  if (!user.empty() || !password.empty()) proxy += user + ":" + password + "@";
  proxy += address;
  curl_easy_setopt(handle_, CURLOPT_PROXY, proxy.c_str());
}

void CurlRequest::setHeaderText(std::string_view text) {
  headerLines_ = SplitText(TrimText(ReplaceText(text, "\n\r", "")), "\r\n");
}

int CurlRequest::status() const {
  if (!handle_) return 0;
  long code = 0;
  if (curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) return 0;
  return static_cast<int>(code);
}

bool CurlRequest::send(std::string_view body) {
  if (!handle_) return false;
  if (headerList_) {
    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
  }
  for (const std::string& line : headerLines_) {
    if (line.empty()) continue;  // an empty entry would end the header block early
    if (curl_slist* grown = curl_slist_append(headerList_, line.c_str())) headerList_ = grown;
  }
  if (!body.empty()) {
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(handle_, CURLOPT_COPYPOSTFIELDS, std::string(body).c_str());
  } else if (post_) {
    // An empty POST goes out with Content-Length: 0 instead of an empty chunked upload.
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, 0L);
    curl_easy_setopt(handle_, CURLOPT_COPYPOSTFIELDS, "");
  }
  std::string cookies = jar_.get();
  if (cookieMode_ == 1 && !cookies.empty()) {
    // As a header line, not CURLOPT_COOKIE: see CookieHeaderLine.
    if (curl_slist* grown = curl_slist_append(headerList_, CookieHeaderLine(cookies).c_str()))
      headerList_ = grown;
  }
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headerList_);
  errorBuffer_[0] = '\0';
  result_ = curl_easy_perform(handle_);
  bool ok = TransferSucceeded(handle_, result_);
  if (ok) result_ = CURLE_OK;
  if (ok && cookieMode_ == 1) jar_.absorbHeaders(headerBuffer_.view());
  return ok;
}

TransferError CurlRequest::transferError() const {
  if (!handle_) return {TransferFailure::kOther, "libcurl could not make a request"};
  return DescribeTransferFailure(handle_, result_, errorBuffer_);
}

void CurlRequest::destroy() {
  if (handle_) {
    curl_easy_cleanup(handle_);
    handle_ = nullptr;
  }
  reuse_.release();
  if (headerList_) {
    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
  }
}

HttpResponse SendWithCurl(const HttpRequest& request, HttpMethod method, const std::string& headers,
                          int timeoutMs) {
  HttpResponse response;
  if (method != HttpMethod::Get && method != HttpMethod::Post) return response;
  CurlRequest curl;
  bool ok = false;
  TransferError error;
  if (curl.init(true, true)) {
    curl.setSslVerify(true, true);
    curl.setAcceptEncoding(true);
    if (timeoutMs != -1) curl.setTimeoutsMs(timeoutMs, timeoutMs);
    if (request.noRedirect) curl.setFollowRedirects(false);
    curl.open(MethodVerb(method), request.url);
    if (!request.proxy.empty()) curl.setProxy(request.proxy);
    curl.setHeaderText(headers);
    curl.setCookies(request.cookies);
    ok = !request.bodyBytes.empty() ? curl.sendBytes(request.bodyBytes)
                                    : curl.sendText(request.body);
    if (!ok) error = curl.transferError();
  } else {
    error = curl.transferError();
    curl.setCookies(request.cookies);
  }
  response.cookies = curl.responseCookies();
  if (ok) {
    // A reply cut off by a time-out, a reset or the size cap is no reply: callers
    // would otherwise read a truncated listing as a complete one.
    response.headers = curl.responseHeaders();
    response.status = curl.status();
    response.body = curl.responseBody();
  } else {
    response.failure = error.failure;
    response.error = std::move(error.message);
  }
  curl.destroy();
  return response;
}

}  // namespace pansift
