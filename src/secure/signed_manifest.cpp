#include "secure/signed_manifest.h"

#include <algorithm>

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

}  // namespace

std::expected<SecureManifest, DecodingError> SecureManifest::decode(std::string_view text) {
  QELVO_TRY(auto document, json::parse(text));
  QELVO_TRY(const Json* object, json::asObject(document, ""));
  QELVO_TRY(auto payload, json::required<std::string>(*object, "payload", ""));
  QELVO_TRY(auto manifest, Manifest::fromPayload(std::move(payload)));
  QELVO_TRY(const Json* member, json::requiredMember(*object, "signatures", ""));
  QELVO_TRY(const Json* signatures, json::asArray(*member, "signatures"));

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
  std::string text = signature.signature;
  std::replace(text.begin(), text.end(), '-', '+');
  std::replace(text.begin(), text.end(), '_', '/');
  if (text.size() % 4 != 0) text.append(4 - text.size() % 4, '=');
  auto bytes = base64Decode(text);
  return bytes && key.verify(signingInput, *bytes);
}

bool verifyAnySignature(const SecureManifest& manifest, const RsaPublicKey& key) {
  return std::any_of(manifest.signatures.begin(), manifest.signatures.end(),
                     [&](const auto& signature) {
                       return verifySignature(signature, manifest.manifest._payload, key);
                     });
}

}  // namespace qelvo
