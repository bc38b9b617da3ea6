#include "publishing/rsa_signer.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <stdexcept>

#include "toolkit/toolkit.h"

namespace qelvo::publishing {
namespace {

std::shared_ptr<EVP_PKEY> own(EVP_PKEY* key) { return {key, EVP_PKEY_free}; }

std::string drain(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(length));
  BIO_free(bio);
  return text;
}

}  // namespace

RsaSigner RsaSigner::generate(int bits) {
  EVP_PKEY* key = EVP_RSA_gen(static_cast<unsigned int>(bits));
  if (!key) throw std::runtime_error("RSA key generation failed");
  return RsaSigner(own(key));
}

std::optional<RsaSigner> RsaSigner::fromPem(std::string_view pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (!key) return std::nullopt;
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
    EVP_PKEY_free(key);
    return std::nullopt;
  }
  return RsaSigner(own(key));
}

std::string RsaSigner::privateKeyPem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key_.get(), nullptr, nullptr, 0, nullptr, nullptr);
  return drain(bio);
}

std::string RsaSigner::publicKeyPem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PUBKEY(bio, key_.get());
  return drain(bio);
}

std::string RsaSigner::publicKeyPkcs1Pem() const {
  unsigned char* der = nullptr;
  int length = i2d_PublicKey(key_.get(), &der);
  if (length <= 0) throw std::runtime_error("cannot encode the public key");
  std::string body = base64Encode(std::string_view(reinterpret_cast<char*>(der), static_cast<std::size_t>(length)));
  OPENSSL_free(der);
  std::string pem = "-----BEGIN RSA PUBLIC KEY-----\n";
  for (std::size_t i = 0; i < body.size(); i += 64) pem += body.substr(i, 64) + "\n";
  return pem + "-----END RSA PUBLIC KEY-----\n";
}

std::string RsaSigner::sign(std::string_view message) const {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  std::size_t length = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    throw std::runtime_error("signing failed");
  }
  std::string signature(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    throw std::runtime_error("signing failed");
  }
  signature.resize(length);
  return signature;
}

std::string base64UrlEncode(std::string_view bytes, bool padded) {
  std::string text = base64Encode(bytes);
  for (auto& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  if (!padded) {
    while (!text.empty() && text.back() == '=') text.pop_back();
  }
  return text;
}

}  // namespace qelvo::publishing
