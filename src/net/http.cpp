#include "net/http.h"

#include <atomic>
#include <mutex>

#include "net/curl_request.h"
#include "net/platform_request.h"
#include "util/text.h"

namespace pansift {
namespace {

std::atomic<bool> gUseCurl{false};

struct OriginSetting {
  std::mutex mutex;
  std::string origin;
};

OriginSetting& Origin() {
  static OriginSetting setting;
  return setting;
}

HttpMethod EffectiveMethod(HttpMethod method) {
  int value = static_cast<int>(method);
  return value < 0 || value > 7 ? HttpMethod::Get : method;
}

// -1 keeps the back end's own time-outs.
int EffectiveTimeoutMs(const HttpRequest& request) {
  if (request.timeoutMs > 0) return request.timeoutMs;
  if (request.timeoutSeconds == -1) return -1;
  if (request.timeoutSeconds < 1) return 15000;
  return request.timeoutSeconds * 1000;
}

// The header text both back ends send: the default User-Agent for empty headers
// (written back to the caller), the standard lines the caller left out, names
// capitalised.
std::string PrepareHeaders(HttpRequest& request, Transport transport, HttpMethod method) {
  if (request.headers.empty()) request.headers = kDefaultUserAgentLine;
  std::string headers = request.headers;
  if (request.completeHeaders) {
    bool curl = transport == Transport::Curl;
    struct Default {
      const char* searched;
      std::string line;
    };
    const Default defaults[] = {
        {"Accept:", "Accept: */*"},
        {"Referer:",
         curl ? "Referer: " + RefererOrigin() + "/disk/main" : "Referer: " + request.url},
        {"Accept-Language:", "Accept-Language: zh-cn"},
        {"User-Agent:", curl ? kDefaultUserAgentLine
                             : "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"},
        {"Content-Type:",
         method == HttpMethod::Post ? "Content-Type: application/x-www-form-urlencoded" : ""},
    };
    for (const Default& entry : defaults) {
      if (entry.line.empty() || FindText(headers, entry.searched, 1, true) != -1) continue;
      headers += "\r\n";
      headers += entry.line;
    }
  }
  if (request.normaliseHeaderCase) headers = NormaliseHeaderCase(headers);
  return headers;
}

}  // namespace

const char* MethodVerb(HttpMethod method) {
  static const char* const kVerbs[] = {"GET",     "POST",   "HEAD",  "PUT",
                                       "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  return kVerbs[static_cast<int>(EffectiveMethod(method))];
}

void SelectTransport(bool useCurl) {
  gUseCurl = useCurl;
}

Transport SelectedTransport() {
  return gUseCurl ? Transport::Curl : Transport::Platform;
}

void SetRefererOrigin(std::string origin) {
  OriginSetting& setting = Origin();
  std::lock_guard lock(setting.mutex);
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  setting.origin = std::move(origin);
}

std::string RefererOrigin() {
  OriginSetting& setting = Origin();
  std::lock_guard lock(setting.mutex);
  return setting.origin;
}

HttpResponse SendRequest(HttpRequest& request) {
  return SendRequestVia(SelectedTransport(), request);
}

HttpResponse SendRequestVia(Transport transport, HttpRequest& request) {
  // A cookie string pasted with line breaks would otherwise end the header block
  // early (and could smuggle in header lines of its own).
  if (request.cookies.find_first_of("\r\n") != std::string::npos) {
    request.cookies = ReplaceText(ReplaceText(request.cookies, "\r", ""), "\n", "");
  }
  HttpMethod method = EffectiveMethod(request.method);
  std::string headers = PrepareHeaders(request, transport, method);
  int timeoutMs = EffectiveTimeoutMs(request);
  if (transport == Transport::Curl) return SendWithCurl(request, method, headers, timeoutMs);
  return SendWithPlatformRequest(request, method, headers, timeoutMs);
}

}  // namespace pansift
