#include "netdisk/sign.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <utility>

#include "core/app_state.h"
#include "json/json_doc.h"
#include "net/http.h"
#include "netdisk/conventions.h"
#include "util/random.h"

namespace pansift {
namespace {

constexpr int kMaterialAttempts = 5;
constexpr int kMaterialTimeoutSeconds = 5;

// RC4 written out here: OpenSSL 3 offers RC4 only through its legacy provider,
// which a program should not have to load for one 20-line cipher.
std::string Rc4(std::string_view key, std::string_view data) {
  std::array<std::uint8_t, 256> s{};
  for (int q = 0; q < 256; ++q) s[static_cast<size_t>(q)] = static_cast<std::uint8_t>(q);
  std::uint8_t j = 0;
  for (size_t q = 0; q < 256; ++q) {
    j = static_cast<std::uint8_t>(j + s[q] + static_cast<std::uint8_t>(key[q % key.size()]));
    std::swap(s[q], s[j]);
  }
  std::string out;
  out.reserve(data.size());
  std::uint8_t i = 0;
  j = 0;
  for (char b : data) {
    i = static_cast<std::uint8_t>(i + 1);
    j = static_cast<std::uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    const std::uint8_t k = s[static_cast<std::uint8_t>(s[i] + s[j])];
    out += static_cast<char>(static_cast<std::uint8_t>(b) ^ k);
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t at = 0;
  for (; at + 3 <= bytes.size(); at += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) << 16 |
                            static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1]))
                                << 8 |
                            static_cast<std::uint8_t>(bytes[at + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  const size_t rest = bytes.size() - at;
  if (rest > 0) {
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) << 16;
    if (rest == 2) v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

void FetchSign(AppState& app, const std::string& cookies) {
  std::string reply;
  for (int attempt = 0; attempt < kMaterialAttempts && reply.empty(); ++attempt) {
    HttpRequest request;
    request.url = NetdiskUrl(app, SignMaterialUrl(NewLogId()));
    request.cookies = cookies;
    request.timeoutSeconds = kMaterialTimeoutSeconds;
    reply = SendRequest(request).body;
  }
  JsonDoc doc;
  doc.parse(reply);
  // A fetch always overwrites both values, so a reply without them empties the cache.
  app.signCacheTimestamp = doc.getText("result.timestamp");
  app.signCacheSign = ComputeSign(doc.getText("result.sign3"), doc.getText("result.sign1"));
  app.signCacheCookies = cookies;
}

}  // namespace

std::string SignMaterialUrl(std::string_view logId) {
  return std::string("/api/gettemplatevariable?") + kWebApiKeys + std::string(logId) +
         "&fields=[%22sign1%22,%22sign2%22,%22sign3%22,%22timestamp%22]";
}

SignResult GetSign(AppState& app, const Credentials& account, bool force) {
  SignResult result;
  {
    std::lock_guard lock(app.signLock);
    // The service pairs a sign with the login that fetched it.
    if (force || app.signCacheSign.empty() || app.signCacheCookies != account.cookies)
      FetchSign(app, account.cookies);
    // Copied under the lock: sign and timestamp must come from the same fetch.
    result.sign = app.signCacheSign;
    result.timestamp = app.signCacheTimestamp;
  }
  result.ok = !result.sign.empty() && !result.timestamp.empty();
  return result;
}

void ClearSignCache(AppState& app) {
  std::lock_guard lock(app.signLock);
  app.signCacheSign.clear();
  app.signCacheTimestamp.clear();
  app.signCacheCookies.clear();
}

std::string ComputeSign(std::string_view key, std::string_view data) {
  // The key schedule needs at least one key byte; without one there is no sign.
  if (key.empty() || data.empty()) return {};
  return Base64(Rc4(key, data));
}

}  // namespace pansift
