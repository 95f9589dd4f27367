#include "net/curl_common.h"

#include "net/http.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace pansift {
namespace {

constexpr const char* kFallbackSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::string SystemBundlePath(CURL* handle) {
  char* path = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_CAINFO, &path) == CURLE_OK && path && *path) return path;
  return kFallbackSystemBundle;
}

// The system bundle followed by the extra file (when one is named); false when the
// extra file cannot be read.
bool BundleText(CURL* handle, const std::string& extraPath, std::string& bundle) {
  bundle.clear();
  ReadWholeFile(SystemBundlePath(handle),
                bundle);  // a machine without a store trusts only the extra file
  if (extraPath.empty()) return true;
  std::string extra;
  if (!ReadWholeFile(extraPath, extra)) return false;
  if (!bundle.empty() && bundle.back() != '\n') bundle += '\n';
  bundle += extra;
  return true;
}

long long ModifiedNs(const struct stat& info) {
  return info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
}

// The certificates (and revocation lists) of a PEM text as a store; nullptr when the
// text holds none.
X509_STORE* StoreOf(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) return nullptr;
  STACK_OF(X509_INFO)* items = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (!items) return nullptr;
  X509_STORE* store = X509_STORE_new();
  int added = 0;
  for (int i = 0; store && i < sk_X509_INFO_num(items); ++i) {
    X509_INFO* item = sk_X509_INFO_value(items, i);
    if (item->x509 && X509_STORE_add_cert(store, item->x509) == 1) ++added;
    if (item->crl) X509_STORE_add_crl(store, item->crl);
  }
  sk_X509_INFO_pop_free(items, X509_INFO_free);
  if (store && added == 0) {
    X509_STORE_free(store);
    store = nullptr;
  }
  return store;
}

// The trusted certificates as one parsed store, shared by every connection: the
// system bundle plus the extra file. Reading and parsing some 150 certificates for
// each request cost more CPU than everything else a check task does; the store is
// rebuilt only when the extra file changes. Each TLS context takes its own
// reference, so replacing the store never pulls it from under a connection.
struct StoreCache {
  std::mutex mutex;
  bool built = false;
  std::string extraPath;  // empty: the system bundle alone
  long long extraSize = -1;
  long long extraMtime = -1;
  X509_STORE* store = nullptr;
};

StoreCache& Cache() {
  static StoreCache cache;
  return cache;
}

// A new reference to the store for `extraPath` (empty: the system's alone), or
// nullptr when there is nothing to trust.
X509_STORE* SharedStore(CURL* handle, const std::string& extraPath) {
  struct stat info {};
  if (!extraPath.empty() && stat(extraPath.c_str(), &info) != 0) return nullptr;
  const long long size = extraPath.empty() ? -1 : info.st_size;
  const long long mtime = extraPath.empty() ? -1 : ModifiedNs(info);
  StoreCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  if (!cache.built || cache.extraPath != extraPath || cache.extraSize != size ||
      cache.extraMtime != mtime) {
    std::string bundle;
    if (!BundleText(handle, extraPath, bundle)) return nullptr;
    if (cache.store) X509_STORE_free(cache.store);
    cache.store = StoreOf(bundle);
    cache.built = true;
    cache.extraPath = extraPath;
    cache.extraSize = size;
    cache.extraMtime = mtime;
  }
  if (!cache.store || X509_STORE_up_ref(cache.store) != 1) return nullptr;
  return cache.store;
}

// Whether libcurl hands its TLS contexts to us as OpenSSL's SSL_CTX.
bool CurlUsesOpenSsl() {
  static const bool openSsl = [] {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && info->ssl_version && std::string_view(info->ssl_version).starts_with("OpenSSL");
  }();
  return openSsl;
}

// The trusted store of one handle, put into each TLS context libcurl makes for it.
// Interned, so the pointer libcurl keeps for the handle stays valid.
void* InternedPath(const std::string& path) {
  static std::mutex mutex;
  static std::set<std::string> paths;
  std::lock_guard lock(mutex);
  return const_cast<std::string*>(&*paths.insert(path).first);
}

CURLcode InstallSharedStore(CURL* handle, void* sslCtx, void* data) {
  const auto* extraPath = static_cast<const std::string*>(data);
  X509_STORE* store = SharedStore(handle, *extraPath);
  // Without a store nothing is trusted: the handshake fails, as with an unreadable file.
  if (!store) return CURLE_SSL_CACERT_BADFILE;
  SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(sslCtx), store);  // takes the reference
  return CURLE_OK;
}

// The extra CA file's name, size and change time: what decides the trusted set.
std::string TrustKey() {
  const char* extra = std::getenv("PANSIFT_CA_FILE");
  if (!extra || !*extra) return {};
  struct stat info {};
  if (stat(extra, &info) != 0) return extra;
  return std::string(extra) + '\n' + std::to_string(info.st_size) + '\n' +
         std::to_string(ModifiedNs(info));
}

// A connection cache and name lookups, shared by the handles of every thread;
// libcurl asks for a lock around each use.
struct ConnectionShare {
  CURLSH* share = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<ConnectionShare*>(self)->locks[data].lock();
}

void UnlockShare(CURL*, curl_lock_data data, void* self) {
  static_cast<ConnectionShare*>(self)->locks[data].unlock();
}

// The shares, one per trusted set. They live as long as the process (a handle may
// still hold an older one); the trusted set changes only in tests.
struct Shares {
  std::mutex mutex;
  std::map<std::string, ConnectionShare> byTrust;
};

Shares& AllShares() {
  static auto* shares = new Shares();
  return *shares;
}

CURLSH* CurrentShare() {
  const std::string key = TrustKey();
  Shares& shares = AllShares();
  std::lock_guard lock(shares.mutex);
  ConnectionShare& entry = shares.byTrust[key];
  if (!entry.share && (entry.share = curl_share_init())) {
    curl_share_setopt(entry.share, CURLSHOPT_LOCKFUNC, &LockShare);
    curl_share_setopt(entry.share, CURLSHOPT_UNLOCKFUNC, &UnlockShare);
    curl_share_setopt(entry.share, CURLSHOPT_USERDATA, &entry);
    // Connections and name lookups only: a kept connection needs no new TLS
    // session, and libcurl's shared session cache hands one OpenSSL session to
    // several threads at once.
    for (curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS})
      curl_share_setopt(entry.share, CURLSHOPT_SHARE, data);
  }
  return entry.share;
}

}  // namespace

void CloseIdleConnections() {
  Shares& shares = AllShares();
  std::lock_guard lock(shares.mutex);
  for (auto& [key, entry] : shares.byTrust) {
    // A share still attached to a handle refuses; the next request makes a new one
    // only when this one is gone.
    if (entry.share && curl_share_cleanup(entry.share) == CURLSHE_OK) entry.share = nullptr;
  }
}

void ShareConnectionsFor(CURL* handle, std::string_view method) {
  const bool reusable = method.empty() || method == "GET" || method == "HEAD";
  curl_easy_setopt(handle, CURLOPT_SHARE, reusable ? CurrentShare() : nullptr);
  curl_easy_setopt(handle, CURLOPT_FRESH_CONNECT, reusable ? 0L : 1L);
  curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, reusable ? 0L : 1L);
}

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void ApplyTrustedCertificates(CURL* handle) {
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  const char* extra = std::getenv("PANSIFT_CA_FILE");
  const std::string extraPath = extra ? extra : "";
  if (CurlUsesOpenSsl() &&
      curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &InstallSharedStore) == CURLE_OK) {
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, InternedPath(extraPath));
    // libcurl loads no file itself: the shared store goes into its TLS context.
    curl_easy_setopt(handle, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    return;
  }
  // Another TLS library: the extra certificates as a blob, parsed per connection.
  std::string bundle;
  if (extraPath.empty() || !BundleText(handle, extraPath, bundle)) return;
  curl_blob blob{};
  blob.data = bundle.data();
  blob.len = bundle.size();
  blob.flags = CURL_BLOB_COPY;
  curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
}

bool TransferSucceeded(CURL* handle, CURLcode result) {
  if (result == CURLE_OK) return true;
  if (result != CURLE_UNSUPPORTED_PROTOCOL) return false;
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  return status >= 300 && status < 400;
}

std::string CookieHeaderLine(std::string_view cookies) {
  std::string line = "Cookie: ";
  line += cookies;
  return line;
}

}  // namespace pansift
