#include "net/curl_request.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "net/curl_common.h"
#include "util/text.h"

namespace pansift {

size_t GrowBuffer::Append(const char* data, size_t count) {
  if (length_ + count > capacity_ || !data_) {
    size_t needed = length_ + count;
    size_t capacity = data_ ? needed * 2 : std::max(kInitialCapacity, needed * 2);
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

size_t GrowBuffer::Read(char* out, size_t count) {
  size_t n = std::min(count, length_ - readPos_);
  if (n > 0) std::memcpy(out, data_.get() + readPos_, n);
  readPos_ += n;
  return n;
}

size_t CurlRequest::OnBody(char* data, size_t size, size_t count, void* self) {
  return static_cast<CurlRequest*>(self)->bodyBuffer_.Append(data, size * count);
}

size_t CurlRequest::OnHeader(char* data, size_t size, size_t count, void* self) {
  return static_cast<CurlRequest*>(self)->headerBuffer_.Append(data, size * count);
}

size_t CurlRequest::OnRead(char* out, size_t size, size_t count, void* self) {
  return static_cast<CurlRequest*>(self)->uploadBuffer_.Read(out, size * count);
}

bool CurlRequest::Init(bool followRedirects, bool noSignals) {
  Destroy();
  EnsureCurlGlobalInit();
  handle_ = curl_easy_init();
  if (!handle_) return false;
  curl_easy_setopt(handle_, CURLOPT_PRIVATE, this);
  curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, noSignals ? 1L : 0L);
  curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
  // A redirect loop must end even without a time-out, and redirects never leave http(s).
  curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 30L);
  // HTTP/1.1 keeps header names as the server wrote them: callers search reply
  // headers such as "Location: " case-sensitively, and HTTP/2 lower-cases them.
  curl_easy_setopt(handle_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle_, CURLOPT_PROXY,
                   "");  // direct unless a proxy is named, whatever the environment says
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
  curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(handle_, CURLOPT_READFUNCTION, &CurlRequest::OnRead);
  curl_easy_setopt(handle_, CURLOPT_READDATA, this);
  bodyBuffer_.Clear();
  headerBuffer_.Clear();
  uploadBuffer_.Clear();
  return true;
}

void CurlRequest::SetSslVerify(bool verifyPeer, bool verifyHost) {
  if (!handle_) return;
  if (verifyPeer && verifyHost) {
    ApplyTrustedCertificates(handle_);
    return;
  }
  curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, verifyPeer ? 1L : 0L);
  curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, verifyHost ? 2L : 0L);
}

void CurlRequest::SetAcceptEncoding(bool gzip) {
  if (handle_) curl_easy_setopt(handle_, CURLOPT_ACCEPT_ENCODING, gzip ? "gzip" : nullptr);
}

void CurlRequest::SetTimeoutsMs(long connectMs, long totalMs) {
  if (!handle_) return;
  curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
  curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, totalMs);
}

void CurlRequest::SetFollowRedirects(bool follow) {
  if (handle_) curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
}

void CurlRequest::Open(std::string_view method, const std::string& url) {
  bodyBuffer_.Clear();
  headerBuffer_.Clear();
  uploadBuffer_.Clear();
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
  // Login cookies go along on redirects, so an https start never follows into plain http.
  bool secure = FindText(url, "https://", 1, true) == 1;
  curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
}

void CurlRequest::SetProxy(const std::string& address, int kind, const std::string& user,
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

void CurlRequest::SetHeaderText(std::string_view text) {
  headerLines_ = SplitText(TrimText(ReplaceText(text, "\n\r", "")), "\r\n");
}

int CurlRequest::Status() const {
  if (!handle_) return 0;
  long code = 0;
  if (curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) return 0;
  return static_cast<int>(code);
}

bool CurlRequest::Send(std::string_view body) {
  if (!handle_) return false;
  if (headerList_) {
    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
  }
  for (const std::string& line : headerLines_) {
    if (line.empty()) continue;  // an empty entry would end the header block early
    if (curl_slist* grown = curl_slist_append(headerList_, line.c_str())) headerList_ = grown;
  }
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headerList_);
  if (!body.empty()) {
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(handle_, CURLOPT_COPYPOSTFIELDS, std::string(body).c_str());
  } else if (post_) {
    // An empty POST goes out with Content-Length: 0 instead of an empty chunked upload.
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, 0L);
    curl_easy_setopt(handle_, CURLOPT_COPYPOSTFIELDS, "");
  }
  std::string cookies = jar_.Get();
  if (cookieMode_ == 1 && !cookies.empty())
    curl_easy_setopt(handle_, CURLOPT_COOKIE, cookies.c_str());
  CURLcode result = curl_easy_perform(handle_);
  if (cookieMode_ == 1) jar_.AbsorbHeaders(headerBuffer_.View());
  return result == CURLE_OK;
}

void CurlRequest::Destroy() {
  if (handle_) {
    curl_easy_cleanup(handle_);
    handle_ = nullptr;
  }
  if (headerList_) {
    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
  }
}

HttpResponse SendWithCurl(const HttpRequest& request, int method, const std::string& headers,
                          int timeoutMs) {
  HttpResponse response;
  if (method != 0 && method != 1) return response;
  CurlRequest curl;
  if (curl.Init(true, true)) {
    curl.SetSslVerify(true, true);
    curl.SetAcceptEncoding(true);
    if (timeoutMs != -1) curl.SetTimeoutsMs(timeoutMs, timeoutMs);
    if (request.noRedirect) curl.SetFollowRedirects(false);
    curl.Open(method == 1 ? "POST" : "GET", request.url);
    if (!request.proxy.empty()) curl.SetProxy(request.proxy);
    curl.SetHeaderText(headers);
    curl.SetCookies(request.cookies);
    if (!request.bodyBytes.empty()) {
      curl.SendBytes(request.bodyBytes);
    } else {
      curl.SendText(request.body);
    }
  } else {
    curl.SetCookies(request.cookies);
  }
  response.headers = curl.ResponseHeaders();
  response.cookies = curl.ResponseCookies();
  response.status = curl.Status();
  response.body = curl.ResponseBody();
  curl.Destroy();
  return response;
}

}  // namespace pansift
