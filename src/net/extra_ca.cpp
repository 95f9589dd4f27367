#include "net/extra_ca.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace pansift {
namespace {

struct Free {
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
  void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
  void operator()(BIO* p) const { BIO_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

Owned<X509> FromDer(const std::string& der) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  return Owned<X509>(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
}

// Only the certificates of the file: a store without the system's default paths.
Owned<X509_STORE> StoreFromPemFile(const std::string& caFile) {
  Owned<BIO> bio(BIO_new_file(caFile.c_str(), "r"));
  if (!bio) return nullptr;
  Owned<X509_STORE> store(X509_STORE_new());
  if (!store) return nullptr;
  int count = 0;
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    if (X509_STORE_add_cert(store.get(), cert) == 1) ++count;
    X509_free(cert);
  }
  return count > 0 ? std::move(store) : nullptr;
}

}  // namespace

std::string CaFileProblem(const std::string& caFile) {
  // Read here rather than by OpenSSL, whose file errors do not say why.
  int fd = ::open(caFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  std::string pem;
  char buffer[16384];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      return std::strerror(error);
    }
    if (got == 0) break;
    pem.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  Owned<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return "out of memory";
  Owned<X509> first(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  // A failed read leaves its reason queued on this thread, where the next TLS
  // handshake would find it.
  ERR_clear_error();
  return first ? std::string() : std::string("it holds no PEM certificate");
}

bool ChainTrustedByCaFile(const std::vector<std::string>& derChain, const std::string& host,
                          const std::string& caFile) {
  if (derChain.empty() || host.empty() || caFile.empty()) return false;
  Owned<X509_STORE> store = StoreFromPemFile(caFile);
  if (!store) return false;
  Owned<X509> leaf = FromDer(derChain.front());
  if (!leaf) return false;
  Owned<STACK_OF(X509)> untrusted(sk_X509_new_null());
  for (size_t i = 1; i < derChain.size(); ++i) {
    Owned<X509> cert = FromDer(derChain[i]);
    if (!cert || !sk_X509_push(untrusted.get(), cert.get())) return false;
    cert.release();
  }
  Owned<X509_STORE_CTX> context(X509_STORE_CTX_new());
  if (!context ||
      X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1) {
    return false;
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
  // An address names its host by IP, anything else by DNS name.
  if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1 &&
      X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) != 1) {
    return false;
  }
  return X509_verify_cert(context.get()) == 1;
}

bool ChainTrustedByExtraCa(const std::vector<std::string>& derChain, const std::string& host) {
  const char* caFile = std::getenv("PANSIFT_CA_FILE");
  if (!caFile || !*caFile) return false;
  return ChainTrustedByCaFile(derChain, host, caFile);
}

}  // namespace pansift
