// An RSA public key for verifying RSASSA-PKCS1-v1_5 SHA-256 signatures (OpenSSL).
// Immutable; verification is safe from several threads at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct evp_pkey_st;

namespace qelvo {

class RsaPublicKey {
 public:
  // Turns PEM-like key text into a key: lines split at "\n" with empty lines dropped,
  // the first and last line dropped unread, the rest joined and decoded as strict
  // Base64 into DER (PKCS #1 RSAPublicKey or SubjectPublicKeyInfo). Null when any step
  // fails, the key is not an RSA public key, or it has fewer than `kMinimumBits` bits
  // (signatures made with a shorter key can be forged).
  static std::shared_ptr<const RsaPublicKey> fromText(std::string_view text);
  static constexpr int kMinimumBits = 2048;

  // Whether `signature` is a valid signature of `message` under this key.
  bool verify(std::string_view message, std::string_view signature) const;
  // The same for a message known by its SHA-256 digest (32 bytes), so that one message
  // is hashed once however many signatures are tried against it.
  bool verifyDigest(std::string_view sha256, std::string_view signature) const;

  ~RsaPublicKey();
  RsaPublicKey(const RsaPublicKey&) = delete;
  RsaPublicKey& operator=(const RsaPublicKey&) = delete;

 private:
  explicit RsaPublicKey(evp_pkey_st* key) : key_(key) {}
  evp_pkey_st* key_;
};

}  // namespace qelvo
