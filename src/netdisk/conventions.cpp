#include "netdisk/conventions.h"

#include "core/app_state.h"
#include "util/random.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr std::string_view kHttps = "https://";

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// "https://host:port" of a URL, or "" when it is not an https URL. The authority
// ends at the first "/", "?" or "#", as the transport reads it, so
// "https://a.com@b.com/" and "https://a.com\@b.com/" (both reach b.com) do not
// pass for a.com.
std::string HttpsOrigin(std::string_view url) {
  if (url.size() <= kHttps.size() || FindText(url, kHttps, 1, true) != 1) return {};
  size_t end = url.find_first_of("/?#", kHttps.size());
  return LowerAscii(url.substr(0, end == std::string_view::npos ? url.size() : end));
}

}  // namespace

std::string NetdiskUrl(const AppState& app, std::string_view pathAndQuery) {
  std::string url = app.origins.netdisk;
  url += pathAndQuery;
  return url;
}

bool IsServiceUrl(const AppState& app, std::string_view url) {
  std::string origin = HttpsOrigin(url);
  if (origin.empty()) return false;
  for (const std::string* own :
       {&app.origins.netdisk, &app.origins.passport, &app.origins.portal}) {
    if (!own->empty() && HttpsOrigin(*own) == origin) return true;
  }
  return false;
}

std::string FixedLogId() {
  return "479995006038637" + RandomDigits(5, kAnyDigit);
}

}  // namespace pansift
