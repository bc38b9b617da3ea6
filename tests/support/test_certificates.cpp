#include "support/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace qelvo::test {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateDeleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Certificate = std::unique_ptr<X509, CertificateDeleter>;

void require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(std::string("test certificates: ") + what);
}

Key newKey() {
  Key key(EVP_EC_gen("P-256"));
  require(key != nullptr, "key generation failed");
  return key;
}

void addExtension(X509* certificate, X509* issuer, int id, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, id, value);
  require(extension != nullptr, "bad extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate for `subjectKey` named `commonName`, signed by `issuerKey` (itself when
// `issuer` is null).
Certificate newCertificate(EVP_PKEY* subjectKey, const char* commonName, X509* issuer,
                           EVP_PKEY* issuerKey, long serial, bool authority) {
  Certificate certificate(X509_new());
  require(certificate != nullptr, "X509_new failed");
  X509* cert = certificate.get();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, subjectKey);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509* signer = issuer ? issuer : cert;
  X509_set_issuer_name(cert, X509_get_subject_name(signer));
  if (authority) {
    addExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert, signer, NID_subject_key_identifier, "hash");
  } else {
    addExtension(cert, signer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert, signer, NID_key_usage, "critical,digitalSignature");
    addExtension(cert, signer, NID_ext_key_usage, "serverAuth");
    addExtension(cert, signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    addExtension(cert, signer, NID_authority_key_identifier, "keyid");
  }
  require(X509_sign(cert, issuerKey, EVP_sha256()) > 0, "signing failed");
  return certificate;
}

std::unique_ptr<FILE, FileCloser> openForWriting(const std::filesystem::path& path) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  require(file != nullptr, "cannot write file");
  return file;
}

void writeCertificate(X509* certificate, const std::filesystem::path& path) {
  require(PEM_write_X509(openForWriting(path).get(), certificate) == 1, "PEM write failed");
}

}  // namespace

TestCertificates makeTestCertificates(const std::filesystem::path& directory) {
  Key authorityKey = newKey();
  Certificate authority =
      newCertificate(authorityKey.get(), "Loopback Test CA", nullptr, authorityKey.get(), 1, true);
  Key serverKey = newKey();
  Certificate server =
      newCertificate(serverKey.get(), "127.0.0.1", authority.get(), authorityKey.get(), 2, false);

  TestCertificates files{directory / "ca.pem", directory / "server.pem",
                         directory / "server-key.pem"};
  writeCertificate(authority.get(), files.caCertificate);
  writeCertificate(server.get(), files.serverCertificate);
  require(PEM_write_PrivateKey(openForWriting(files.serverKey).get(), serverKey.get(), nullptr,
                               nullptr, 0, nullptr, nullptr) == 1,
          "PEM key write failed");
  return files;
}

}  // namespace qelvo::test
