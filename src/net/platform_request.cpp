#include "net/platform_request.h"

#include <algorithm>

#include "net/cookies.h"
#include "net/curl_common.h"
#include "util/text.h"

namespace pansift {
namespace {

// The object's own time-outs, used when the caller asks for none.
constexpr int kOwnResolveMs = 0;
constexpr int kOwnConnectMs = 60000;
constexpr int kOwnSendMs = 30000;
constexpr int kOwnReceiveMs = 30000;
constexpr long kMaxRedirects = 10;

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && FindText(a, b, 1, true) == 1;
}

}  // namespace

PlatformRequest::PlatformRequest() {
  EnsureCurlGlobalInit();
  handle_ = curl_easy_init();
  if (!handle_) return;
  curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer_);
  // Header names arrive as the server wrote them, which the Set-Cookie rule relies on.
  curl_easy_setopt(handle_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &PlatformRequest::onBody);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &PlatformRequest::onHeader);
  curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &PlatformRequest::onProgress);
  curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(handle_, CURLOPT_PROXY,
                   "");  // direct unless a proxy is named, whatever the environment says
  ApplyTrustedCertificates(handle_);
  setTimeouts(kOwnResolveMs, kOwnConnectMs, kOwnSendMs, kOwnReceiveMs);
}

PlatformRequest::~PlatformRequest() {
  if (handle_) curl_easy_cleanup(handle_);
  reuse_.release();
}

void PlatformRequest::setTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
  if (!handle_) return;
  curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(std::max(0, resolveMs) + std::max(0, connectMs)));
  idleLimitMs_ = std::max({0, sendMs, receiveMs});
}

void PlatformRequest::setProxy(const std::string& address) {
  if (handle_) curl_easy_setopt(handle_, CURLOPT_PROXY, address.c_str());
}

void PlatformRequest::open(std::string_view verb, const std::string& url) {
  verb_ = std::string(verb);
  requestHeaders_.clear();
  if (!handle_) return;
  curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
  reuse_.apply(handle_, verb);
  // Never follow a redirect from https down to plain http (send then returns the
  // redirect itself).
  bool secure = FindText(url, "https://", 1, true) == 1;
  curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
}

void PlatformRequest::setEnableRedirects(bool enable) {
  if (handle_) curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, enable ? 1L : 0L);
}

void PlatformRequest::setCredentials(const std::string& user, const std::string& password,
                                     int target) {
  if (!handle_) return;
  if (target == 1) {
    curl_easy_setopt(handle_, CURLOPT_PROXYUSERNAME, user.c_str());
    curl_easy_setopt(handle_, CURLOPT_PROXYPASSWORD, password.c_str());
    // Basic only: sent with the first request instead of waiting for a challenge.
    curl_easy_setopt(handle_, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    return;
  }
  curl_easy_setopt(handle_, CURLOPT_USERNAME, user.c_str());
  curl_easy_setopt(handle_, CURLOPT_PASSWORD, password.c_str());
  curl_easy_setopt(handle_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
}

void PlatformRequest::setRequestHeader(std::string_view name, std::string_view value) {
  if (name.empty()) return;
  for (auto& header : requestHeaders_) {
    if (SameName(header.first, name)) {
      header.second = std::string(value);
      return;
    }
  }
  requestHeaders_.emplace_back(std::string(name), std::string(value));
}

size_t PlatformRequest::onBody(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<PlatformRequest*>(self);
  // Past the cap the transfer is aborted (taking fewer bytes than offered).
  if (size * count > kMaxReplyBodyBytes - request->body_.size()) return 0;
  request->body_.append(data, size * count);
  request->lastActivity_ = std::chrono::steady_clock::now();
  return size * count;
}

size_t PlatformRequest::onHeader(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<PlatformRequest*>(self);
  request->lastActivity_ = std::chrono::steady_clock::now();
  std::string_view line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    // A new response (redirect, 100 Continue, proxy tunnel): only the last one counts.
    request->headers_.clear();
    request->body_.clear();
  } else if (!line.empty()) {
    request->headers_.append(line);
    request->headers_.append("\r\n");
  }
  return size * count;
}

int PlatformRequest::onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t,
                                curl_off_t ulNow) {
  auto* request = static_cast<PlatformRequest*>(self);
  if (dlNow != request->lastDown_ || ulNow != request->lastUp_) {
    request->lastDown_ = dlNow;
    request->lastUp_ = ulNow;
    request->lastActivity_ = std::chrono::steady_clock::now();
  }
  return 0;
}

bool PlatformRequest::send(std::string_view body) {
  if (!handle_) return false;
  body_.clear();
  headers_.clear();
  status_ = 0;
  result_ = CURLE_OK;
  errorBuffer_[0] = '\0';

  bool sendsBody = !body.empty() && verb_ != "GET" && verb_ != "HEAD";
  if (verb_ == "GET") {
    curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
  } else if (verb_ == "HEAD") {
    curl_easy_setopt(handle_, CURLOPT_NOBODY, 1L);
  } else if (verb_ == "POST") {
    curl_easy_setopt(handle_, CURLOPT_POST, 1L);
  } else {
    curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, verb_.c_str());
  }
  if (verb_ == "POST" || sendsBody) {
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(handle_, CURLOPT_COPYPOSTFIELDS, std::string(body).c_str());
  }

  // Only the headers set on the object go out: libcurl's own Accept, Expect and form
  // Content-Type defaults are switched off unless set explicitly.
  curl_slist* list = nullptr;
  auto append = [&list](const std::string& line) {
    if (curl_slist* grown = curl_slist_append(list, line.c_str())) list = grown;
  };
  bool hasAccept = false;
  bool hasContentType = false;
  for (const auto& [name, value] : requestHeaders_) {
    hasAccept = hasAccept || SameName(name, "Accept");
    hasContentType = hasContentType || SameName(name, "Content-Type");
    append(value.empty() ? name + ";" : name + ": " + value);
  }
  if (!hasAccept) append("Accept:");
  if (!hasContentType) append("Content-Type:");
  append("Expect:");
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, list);

  bool ok = perform();
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(list);
  if (!ok) {
    body_.clear();
    headers_.clear();
    return false;
  }
  long code = 0;
  curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code);
  status_ = static_cast<int>(code);
  return status_ != 0;
}

// Drives the transfer ourselves so that every wait for the next bytes is limited
// on its own, as the system object's send and receive time-outs are, instead of one
// limit for the whole exchange.
bool PlatformRequest::perform() {
  CURLM* multi = curl_multi_init();
  if (!multi) return false;
  curl_multi_add_handle(multi, handle_);
  lastDown_ = 0;
  lastUp_ = 0;
  bool connected = false;
  bool timedOut = false;
  int running = 1;
  for (;;) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running == 0) break;
    auto now = std::chrono::steady_clock::now();
    if (!connected) {
      curl_off_t pretransfer = 0;
      curl_easy_getinfo(handle_, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
      if (pretransfer > 0) {
        connected = true;
        lastActivity_ = now;
      }
    }
    int waitMs = 1000;
    if (connected && idleLimitMs_ > 0) {
      auto idle =
          std::chrono::duration_cast<std::chrono::milliseconds>(now - lastActivity_).count();
      if (idle >= idleLimitMs_) {
        timedOut = true;
        break;
      }
      waitMs = static_cast<int>(std::min<long long>(waitMs, idleLimitMs_ - idle));
    } else if (!connected) {
      waitMs = 20;  // notice the connection soon, to start the first wait's clock
    }
    curl_multi_poll(multi, nullptr, 0, std::max(1, waitMs), nullptr);
  }
  CURLcode result = CURLE_OPERATION_TIMEDOUT;
  if (!timedOut && running == 0) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == handle_)
        result = message->data.result;
    }
  }
  bool ok = TransferSucceeded(handle_, result);
  if (!ok) result_ = result;
  curl_multi_remove_handle(multi, handle_);
  curl_multi_cleanup(multi);
  return ok;
}

TransferError PlatformRequest::transferError() const {
  if (!handle_) return {TransferFailure::kOther, "libcurl could not make a request"};
  if (result_ == CURLE_OK && status_ == 0) return {TransferFailure::kOther, "no reply came back"};
  if (result_ == CURLE_OK) return {};
  return DescribeTransferFailure(handle_, result_, errorBuffer_);
}

std::string ReplyCookies(std::string_view headers) {
  std::string cookies;
  for (const std::string& line : SplitText(headers, "\r\n")) {
    size_t colon = line.find(": ");
    if (colon == std::string::npos || line.compare(0, colon, "Set-Cookie") != 0) continue;
    std::string cookie = line.find(';') != std::string::npos
                             ? TextBetween(line, "Set-Cookie:", ";")
                             : ReplaceText(line, "Set-Cookie:", "", true);
    cookies += TrimText(cookie);
    cookies += "; ";
  }
  if (cookies.ends_with("; ")) cookies.resize(cookies.size() - 2);
  return cookies;
}

HttpResponse SendWithPlatformRequest(HttpRequest& request, HttpMethod method,
                                     const std::string& headers, int timeoutMs) {
  HttpResponse response;
  PlatformRequest object;
  auto failed = [&response, &object] {
    TransferError error = object.transferError();
    response.failure = error.failure;
    response.error = std::move(error.message);
    return response;
  };
  if (!object.isCreated()) return failed();
  if (timeoutMs != -1) object.setTimeouts(timeoutMs, timeoutMs, timeoutMs, timeoutMs);
  if (!request.proxy.empty()) object.setProxy(request.proxy);
  object.open(MethodVerb(method), request.url);
  if (request.noRedirect) object.setEnableRedirects(false);
  if (!request.proxy.empty() && !request.proxyUser.empty()) {
    object.setCredentials(request.proxyUser, request.proxyPassword, request.proxyCredentialTarget);
  }
  if (!request.cookies.empty()) {
    request.cookies = ReplaceText(request.cookies, "Cookie:", "", true);
    // A request header, so a redirect to another origin goes without it (see
    // CookieHeaderLine).
    object.setRequestHeader("Cookie", request.cookies);
  }
  if (FindText(headers, "\r\n") != -1) {
    for (const std::string& line : SplitText(headers, "\r\n")) {
      if (line.empty()) continue;
      std::string name = HeaderName(line);
      std::string value = HeaderValue(line);
      if (name == "Connection" && value == "keep-alive") continue;
      object.setRequestHeader(name, value);
    }
  } else {
    object.setRequestHeader(HeaderName(headers), HeaderValue(headers));
  }
  if (!object.send(request.bodyBytes.empty() ? request.body : request.bodyBytes)) return failed();

  response.body = object.responseBody();
  response.headers = object.allResponseHeaders();
  response.status = object.status();
  response.cookies = ReplyCookies(response.headers);
  if (request.mergeCookies) {
    response.cookies = MergeCookies(request.cookies, response.cookies);
    request.cookies = response.cookies;
  }
  return response;
}

}  // namespace pansift
