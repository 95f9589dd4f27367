#include "net/extra_ca.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "https_server.h"
#include "support/temp_dir.h"

namespace pansift {
namespace {

// The DER bytes of the first certificate in `pem`.
std::string Der(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (!cert) return {};
  unsigned char* out = nullptr;
  int length = i2d_X509(cert, &out);
  std::string der(reinterpret_cast<const char*>(out), static_cast<size_t>(length > 0 ? length : 0));
  OPENSSL_free(out);
  X509_free(cert);
  return der;
}

TEST(ChainTrustedByCaFile, OnlyTheConfiguredCertificateForItsOwnHostsIsTrusted) {
  testing::TempDir dir;
  sim::Certificate configured =
      sim::MakeSelfSignedCertificate({"pan.sim.localhost"}, {"127.0.0.1"});
  sim::Certificate stranger = sim::MakeSelfSignedCertificate({"pan.sim.localhost"}, {"127.0.0.1"});
  const std::string caFile = dir.file("ca.pem");
  ASSERT_TRUE(sim::WriteTextFile(caFile, configured.certPem));
  const std::vector<std::string> chain = {Der(configured.certPem)};
  ASSERT_FALSE(chain[0].empty());

  struct Case {
    const char* what;
    std::vector<std::string> chain;
    std::string host;
    std::string file;
    bool trusted;
  };
  const std::vector<Case> cases = {
      {"its address", chain, "127.0.0.1", caFile, true},
      {"its name", chain, "pan.sim.localhost", caFile, true},
      {"a host it was not issued for", chain, "127.0.0.2", caFile, false},
      {"another name", chain, "passport.example.com", caFile, false},
      {"a certificate the file does not hold", {Der(stranger.certPem)}, "127.0.0.1", caFile, false},
      {"no certificate", {}, "127.0.0.1", caFile, false},
      {"bytes that are no certificate", {"garbage"}, "127.0.0.1", caFile, false},
      {"no such file", chain, "127.0.0.1", dir.file("missing.pem"), false},
      {"no file configured", chain, "127.0.0.1", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ChainTrustedByCaFile(c.chain, c.host, c.file), c.trusted);
  }
}

}  // namespace
}  // namespace pansift
