#include "secure/public_key.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <vector>

#include "base/base64.h"
#include "base/text.h"

namespace qelvo {
namespace {

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

struct KeyContextDeleter {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};

// The lines between the first and the last non-empty line, joined.
std::string keyBody(std::string_view text) {
  auto lines = splitNonEmpty(text, '\n');
  std::string body;
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) body += lines[i];
  return body;
}

// Parses DER of exactly one key: trailing bytes make it no key.
EVP_PKEY* parseDer(const std::string& der) {
  for (auto parse : {+[](const unsigned char** in, long length) {
                       return d2i_PublicKey(EVP_PKEY_RSA, nullptr, in, length);
                     },
                     +[](const unsigned char** in, long length) {
                       return d2i_PUBKEY(nullptr, in, length);
                     }}) {
    auto* begin = reinterpret_cast<const unsigned char*>(der.data());
    const unsigned char* cursor = begin;
    EVP_PKEY* key = parse(&cursor, static_cast<long>(der.size()));
    if (!key) continue;
    if (cursor == begin + der.size() && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA) return key;
    EVP_PKEY_free(key);
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<const RsaPublicKey> RsaPublicKey::fromText(std::string_view text) {
  auto der = base64Decode(keyBody(text));
  if (!der || der->empty()) return nullptr;
  EVP_PKEY* key = parseDer(*der);
  if (!key) return nullptr;
  // A short key is refused like no key: signatures made with one can be forged.
  if (EVP_PKEY_get_bits(key) < kMinimumBits) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return std::shared_ptr<const RsaPublicKey>(new RsaPublicKey(key));
}

RsaPublicKey::~RsaPublicKey() { EVP_PKEY_free(key_); }

bool RsaPublicKey::verify(std::string_view message, std::string_view signature) const {
  std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
  if (!context) return false;
  // The key is shared between threads; each verification has its own context.
  if (EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key_) != 1) return false;
  return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

bool RsaPublicKey::verifyDigest(std::string_view sha256, std::string_view signature) const {
  std::unique_ptr<EVP_PKEY_CTX, KeyContextDeleter> context(EVP_PKEY_CTX_new(key_, nullptr));
  if (!context || EVP_PKEY_verify_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1) {
    return false;
  }
  return EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         signature.size(), reinterpret_cast<const unsigned char*>(sha256.data()),
                         sha256.size()) == 1;
}

}  // namespace qelvo
