#include "net/curl_common.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>

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

// The combined bundle is rebuilt only when the extra file changes, so a run that
// trusts the simulator does not read the system store on every request.
struct BundleCache {
  std::mutex mutex;
  std::string extraPath;
  long long extraSize = -1;
  long long extraMtime = -1;
  std::shared_ptr<const std::string> bundle;
};

BundleCache& Cache() {
  static BundleCache cache;
  return cache;
}

std::shared_ptr<const std::string> CombinedBundle(CURL* handle, const std::string& extraPath) {
  struct stat info {};
  if (stat(extraPath.c_str(), &info) != 0) return nullptr;
  BundleCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  if (cache.bundle && cache.extraPath == extraPath && cache.extraSize == info.st_size &&
      cache.extraMtime == info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec) {
    return cache.bundle;
  }
  std::string extra;
  if (!ReadWholeFile(extraPath, extra)) return nullptr;
  std::string system;
  ReadWholeFile(SystemBundlePath(handle),
                system);  // a machine without a store trusts only the extra file
  auto bundle = std::make_shared<std::string>(std::move(system));
  if (!bundle->empty() && bundle->back() != '\n') *bundle += '\n';
  *bundle += extra;
  cache.extraPath = extraPath;
  cache.extraSize = info.st_size;
  cache.extraMtime = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
  cache.bundle = bundle;
  return bundle;
}

}  // namespace

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void ApplyTrustedCertificates(CURL* handle) {
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  const char* extraPath = std::getenv("PANSIFT_CA_FILE");
  if (!extraPath || !*extraPath) return;
  std::shared_ptr<const std::string> bundle = CombinedBundle(handle, extraPath);
  if (!bundle) return;
  curl_blob blob{};
  blob.data = const_cast<char*>(bundle->data());
  blob.len = bundle->size();
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
