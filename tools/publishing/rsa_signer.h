// RSA private keys for publishing: generation, PEM forms, and RS256 signatures
// (RSASSA-PKCS1-v1_5 with SHA-256) of manifest payloads.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct evp_pkey_st;

namespace qelvo::publishing {

class RsaSigner {
 public:
  // A new key pair.
  static RsaSigner generate(int bits = 2048);
  // A private key from PEM text (PKCS #8 or traditional RSA); none when it is not one.
  static std::optional<RsaSigner> fromPem(std::string_view pem);

  std::string privateKeyPem() const;
  // "-----BEGIN PUBLIC KEY-----" (SubjectPublicKeyInfo).
  std::string publicKeyPem() const;
  // "-----BEGIN RSA PUBLIC KEY-----" (PKCS #1 RSAPublicKey).
  std::string publicKeyPkcs1Pem() const;

  // The raw signature bytes of `message`.
  std::string sign(std::string_view message) const;

 private:
  explicit RsaSigner(std::shared_ptr<evp_pkey_st> key) : key_(std::move(key)) {}
  std::shared_ptr<evp_pkey_st> key_;
};

// URL-safe Base64 (RFC 4648 section 5), with or without "=" padding.
std::string base64UrlEncode(std::string_view bytes, bool padded = false);

}  // namespace qelvo::publishing
