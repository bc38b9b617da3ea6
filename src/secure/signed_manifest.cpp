#include "secure/signed_manifest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "base/base64.h"
#include "base/try.h"
#include "platform/json.h"
#include "secure/public_key.h"

namespace qelvo {
namespace {

using json::Json;

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The signature's bytes: URL-safe or standard Base64, padded or not.
std::optional<std::string> signatureBytes(std::string text) {
  std::replace(text.begin(), text.end(), '-', '+');
  std::replace(text.begin(), text.end(), '_', '/');
  if (text.size() % 4 != 0) text.append(4 - text.size() % 4, '=');
  return base64Decode(text);
}

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// SHA-256 of `protectedHeader + "." + payload`, without copying the payload.
std::string signingInputDigest(std::string_view protectedHeader, std::string_view payload) {
  std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), protectedHeader.data(), protectedHeader.size()) != 1 ||
      EVP_DigestUpdate(context.get(), ".", 1) != 1 ||
      EVP_DigestUpdate(context.get(), payload.data(), payload.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    return {};  // verifies nothing
  }
  return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

std::expected<SecureManifest, DecodingError> SecureManifest::decode(std::string_view text) {
  QELVO_TRY(auto document, json::parse(text));
  QELVO_TRY(const Json* object, json::asObject(document, ""));
  QELVO_TRY(auto payload, json::required<std::string>(*object, "payload", ""));
  QELVO_TRY(auto manifest, Manifest::fromPayload(std::move(payload)));
  QELVO_TRY(const Json* member, json::requiredMember(*object, "signatures", ""));
  QELVO_TRY(const Json* signatures, json::asArray(*member, "signatures"));

  if (signatures->size() > kMaxSignatures) {
    return std::unexpected(DecodingError(
        "signatures", "More than " + std::to_string(kMaxSignatures) + " signatures."));
  }
  SecureManifest result{std::move(manifest), {}};
  for (std::size_t i = 0; i < signatures->size(); ++i) {
    const auto path = json::indexPath("signatures", i);
    QELVO_TRY(const Json* entry, json::asObject((*signatures)[i], path));
    QELVO_TRY(auto header, json::required<std::string>(*entry, "protected", path));
    QELVO_TRY(auto signature, json::required<std::string>(*entry, "signature", path));
    result.signatures.push_back({std::move(header), std::move(signature)});
  }
  return result;
}

bool verifySignature(const SecureManifest::Signature& signature, const std::string& payloadText,
                     const RsaPublicKey& key) {
  const std::string signingInput = signature.protectedHeader + "." + payloadText;
  if (!isAscii(signingInput)) return false;
  auto bytes = signatureBytes(signature.signature);
  return bytes && key.verify(signingInput, *bytes);
}

bool verifyAnySignature(const SecureManifest& manifest, const RsaPublicKey& key,
                        std::stop_token stop) {
  return firstVerifyingSignature(manifest, key, std::move(stop)).has_value();
}

std::optional<std::size_t> firstVerifyingSignature(const SecureManifest& manifest,
                                                   const RsaPublicKey& key, std::stop_token stop) {
  const auto& payload = manifest.manifest._payload;
  if (!isAscii(payload)) return std::nullopt;
  // The payload is most of the signing input: each protected header's input is hashed
  // once, however many entries repeat it.
  std::map<std::string_view, std::string> digests;
  for (std::size_t index = 0; index < manifest.signatures.size(); ++index) {
    const auto& signature = manifest.signatures[index];
    if (stop.stop_requested()) return std::nullopt;
    if (!isAscii(signature.protectedHeader)) continue;
    auto bytes = signatureBytes(signature.signature);
    if (!bytes) continue;
    auto [digest, fresh] = digests.try_emplace(signature.protectedHeader);
    if (fresh) digest->second = signingInputDigest(signature.protectedHeader, payload);
    if (key.verifyDigest(digest->second, *bytes)) return index;
  }
  return std::nullopt;
}

}  // namespace qelvo
