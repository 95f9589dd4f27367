#include "net/curl_common.h"

#include "net/extra_ca.h"
#include "net/http.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

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
  // A file that holds no certificate would leave the system's alone, and the
  // handshake would fail as untrusted instead of naming the file.
  const long long size = extraPath.empty() ? -1 : info.st_size;
  const long long mtime = extraPath.empty() ? -1 : ModifiedNs(info);
  StoreCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  if (!cache.built || cache.extraPath != extraPath || cache.extraSize != size ||
      cache.extraMtime != mtime) {
    if (!extraPath.empty() && !CaFileProblem(extraPath).empty()) return nullptr;
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

std::string ExtraCaPath() {
  const char* extra = std::getenv("PANSIFT_CA_FILE");
  return extra ? extra : "";
}

// "host:port" of the last URL the handle tried; its whole URL when that cannot be
// read apart.
std::string HostOfLastUrl(CURL* handle) {
  char* url = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || !url) return {};
  std::string host = url;
  if (CURLU* parts = curl_url()) {
    char* name = nullptr;
    char* port = nullptr;
    if (curl_url_set(parts, CURLUPART_URL, url, 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &name, 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
      host = std::string(name) + ":" + port;
    }
    curl_free(name);
    curl_free(port);
    curl_url_cleanup(parts);
  }
  return host;
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

}  // namespace

// Threads never share a connection: libcurl does not support one connection cache
// used by several threads at once (CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT). Each
// thread has its own share per trusted set, which only that thread's handles
// attach to, one transfer at a time. The mutex orders the thread's use against
// CloseIdleConnections on another thread, which libcurl allows: a handle may pass
// between threads as long as two never use it at once (libcurl-thread). A share also
// keeps the thread's name lookups and TLS sessions, so a connection the server has
// closed is replaced by a resumed handshake.
struct ThreadConnections {
  struct Cache {
    CURLSH* share = nullptr;
    int users = 0;               // handles attached right now
    bool closeWhenFree = false;  // asked to close while a transfer used it
  };

  std::mutex mutex;
  std::map<std::string, Cache> byTrust;

  // Closes the caches no handle uses; the others close as their last user leaves.
  void closeIdle() {
    std::lock_guard lock(mutex);
    for (auto it = byTrust.begin(); it != byTrust.end();) {
      Cache& cache = it->second;
      if (cache.users == 0 && curl_share_cleanup(cache.share) == CURLSHE_OK) {
        it = byTrust.erase(it);
        continue;
      }
      cache.closeWhenFree = true;
      ++it;
    }
  }
};

namespace {

// Every thread's caches, for CloseIdleConnections. Lives as long as the process:
// threads, the main one included, leave it at their exit.
struct Registry {
  std::mutex mutex;
  std::set<ThreadConnections*> threads;
};

Registry& AllThreads() {
  static auto* registry = new Registry();
  return *registry;
}

// The calling thread's caches; a thread's exit closes them (those still in use by
// a request object that outlives the thread close when it lets go).
struct ThreadSlot {
  std::shared_ptr<ThreadConnections> connections = std::make_shared<ThreadConnections>();
  ThreadSlot() {
    Registry& registry = AllThreads();
    std::lock_guard lock(registry.mutex);
    registry.threads.insert(connections.get());
  }
  ~ThreadSlot() {
    {
      Registry& registry = AllThreads();
      std::lock_guard lock(registry.mutex);
      registry.threads.erase(connections.get());
    }
    connections->closeIdle();
  }
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;
};

const std::shared_ptr<ThreadConnections>& MyConnections() {
  thread_local ThreadSlot slot;
  return slot.connections;
}

CURLSH* NewThreadShare() {
  CURLSH* share = curl_share_init();
  if (!share) return nullptr;
  for (curl_lock_data data :
       {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
    if (curl_share_setopt(share, CURLSHOPT_SHARE, data) != CURLSHE_OK) {
      curl_share_cleanup(share);
      return nullptr;
    }
  }
  return share;
}

}  // namespace

void CloseIdleConnections() {
  Registry& registry = AllThreads();
  std::lock_guard lock(registry.mutex);
  for (ThreadConnections* connections : registry.threads) connections->closeIdle();
}

void ConnectionReuse::apply(CURL* handle, std::string_view method) {
  if (owner_) {
    curl_easy_setopt(handle, CURLOPT_SHARE, nullptr);
    release();
  }
  const bool reusable = method.empty() || method == "GET" || method == "HEAD";
  curl_easy_setopt(handle, CURLOPT_FRESH_CONNECT, reusable ? 0L : 1L);
  curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, reusable ? 0L : 1L);
  if (!reusable) return;
  const std::shared_ptr<ThreadConnections>& mine = MyConnections();
  std::string trust = TrustKey();
  std::lock_guard lock(mine->mutex);
  auto [it, added] = mine->byTrust.try_emplace(trust);
  ThreadConnections::Cache& cache = it->second;
  if (added && !(cache.share = NewThreadShare())) {
    mine->byTrust.erase(it);
    return;  // no reuse: the handle keeps its own connections
  }
  if (curl_easy_setopt(handle, CURLOPT_SHARE, cache.share) != CURLE_OK) return;
  ++cache.users;
  owner_ = mine;
  trust_ = std::move(trust);
}

void ConnectionReuse::release() {
  if (!owner_) return;
  {
    std::lock_guard lock(owner_->mutex);
    auto it = owner_->byTrust.find(trust_);
    if (it != owner_->byTrust.end() && --it->second.users == 0 && it->second.closeWhenFree &&
        curl_share_cleanup(it->second.share) == CURLSHE_OK) {
      owner_->byTrust.erase(it);
    }
  }
  owner_.reset();
  trust_.clear();
}

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void ApplyTrustedCertificates(CURL* handle) {
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string extraPath = ExtraCaPath();
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

TransferError DescribeTransferFailure(CURL* handle, CURLcode result, const char* errorBuffer) {
  std::string said = errorBuffer && *errorBuffer ? errorBuffer : curl_easy_strerror(result);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
  switch (result) {
    case CURLE_OK:
      return {};
    case CURLE_SSL_CACERT_BADFILE: {
      const std::string extra = ExtraCaPath();
      const std::string problem = extra.empty() ? std::string() : CaFileProblem(extra);
      if (!problem.empty())
        return {TransferFailure::kCaFile,
                "cannot use the CA file " + extra + " (" + problem + "): " + said};
      return {TransferFailure::kCaFile, "cannot load the trusted certificates (" +
                                            (extra.empty() ? SystemBundlePath(handle) : extra) +
                                            "): " + said};
    }
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR: {
      const std::string extra = ExtraCaPath();
      return {TransferFailure::kUntrusted,
              "the certificate of " + HostOfLastUrl(handle) + " is not trusted" +
                  (extra.empty() ? std::string() : " (extra CA file " + extra + ")") + ": " + said};
    }
    default:
      return {TransferFailure::kOther, HostOfLastUrl(handle) + ": " + said};
  }
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
