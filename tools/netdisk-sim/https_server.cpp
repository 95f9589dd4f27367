#include "https_server.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <fstream>

namespace pansift::sim {
namespace {

std::string ToPem(auto write) {
  BIO* bio = BIO_new(BIO_s_mem());
  write(bio);
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<size_t>(len));
  BIO_free(bio);
  return pem;
}

X509* ReadCert(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return cert;
}

EVP_PKEY* ReadKey(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return key;
}

}  // namespace

Certificate MakeSelfSignedCertificate(const std::vector<std::string>& dnsNames,
                                      const std::vector<std::string>& ipAddresses) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(
      X509_get_serialNumber(cert),
      static_cast<long>(std::chrono::system_clock::now().time_since_epoch().count() & 0x7fffffff));
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 60L * 60 * 24 * 365);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("netdisk-sim"), -1, -1, 0);
  X509_set_issuer_name(cert, name);

  std::string san;
  for (const std::string& dns : dnsNames)
    san += (san.empty() ? "" : ",") + std::string("DNS:") + dns;
  for (const std::string& ip : ipAddresses)
    san += (san.empty() ? "" : ",") + std::string("IP:") + ip;
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, san.c_str())) {
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  if (X509_EXTENSION* ext =
          X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints, "critical,CA:TRUE")) {
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  X509_sign(cert, key, EVP_sha256());

  Certificate out;
  out.certPem = ToPem([cert](BIO* bio) { PEM_write_bio_X509(bio, cert); });
  out.keyPem = ToPem([key](BIO* bio) {
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  });
  X509_free(cert);
  EVP_PKEY_free(key);
  return out;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

HttpsServer::HttpsServer(const Certificate& certificate) {
  X509* cert = ReadCert(certificate.certPem);
  EVP_PKEY* key = ReadKey(certificate.keyPem);
  server_ = std::make_unique<httplib::SSLServer>(cert, key);
  // The server keeps its own references.
  X509_free(cert);
  EVP_PKEY_free(key);
  // The keep-alive wait is also how long a new connection may take to send its first
  // request after the TLS handshake: 0 drops it after ~10 ms and 1 s after a second
  // (both seen with several clients at once, the second under ThreadSanitizer on a
  // loaded machine). The program keeps connections open for reuse: a test closes
  // them before it stops the server, which otherwise waits for each to time out.
  server_->set_keep_alive_timeout(5);
  // As a web server does, a connection serves many requests (not cpp-httplib's 5).
  server_->set_keep_alive_max_count(100);
  // A reply's header and body go out as separate writes; with Nagle's algorithm the
  // body waited for the client's delayed acknowledgement (up to 40 ms a request).
  server_->set_tcp_nodelay(true);
}

HttpsServer::HttpsServer() : server_(std::make_unique<httplib::Server>()), secure_(false) {
  server_->set_keep_alive_timeout(1);
}

HttpsServer::~HttpsServer() {
  stop();
}

bool HttpsServer::start(int port) {
  if (port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_->bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (port_ <= 0) return false;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  for (int i = 0; i < 500 && !server_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return server_->is_running();
}

void HttpsServer::stop() {
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string HttpsServer::origin() const {
  return (secure_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_);
}

}  // namespace pansift::sim
