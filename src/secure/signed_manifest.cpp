#include "secure/signed_manifest.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "client/base64.h"
#include "secure/public_key.h"

namespace qelvo {
namespace {

using nlohmann::json;

std::expected<std::string, DecodingError> requireString(const json& object, const char* key,
                                                        const std::string& path) {
  auto it = object.find(key);
  if (it == object.end()) {
    return std::unexpected(DecodingError(path + key, std::string("No value associated with key \"") +
                                                         key + "\"."));
  }
  if (!it->is_string()) {
    return std::unexpected(DecodingError(path + key, std::string("Expected to decode String for key \"") +
                                                         key + "\" but found another type."));
  }
  return it->get<std::string>();
}

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::expected<SecureManifest, DecodingError> SecureManifest::decode(std::string_view text) {
  json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) {
    return std::unexpected(DecodingError("", "The given data was not valid JSON."));
  }
  if (!document.is_object()) {
    return std::unexpected(DecodingError("", "Expected to decode a dictionary but found another type."));
  }
  auto payload = requireString(document, "payload", "");
  if (!payload) return std::unexpected(payload.error());
  auto manifest = Manifest::fromPayload(std::move(*payload));
  if (!manifest) return std::unexpected(manifest.error());

  auto signatures = document.find("signatures");
  if (signatures == document.end()) {
    return std::unexpected(DecodingError("signatures", "No value associated with key \"signatures\"."));
  }
  if (!signatures->is_array()) {
    return std::unexpected(DecodingError("signatures", "Expected to decode Array but found another type."));
  }
  SecureManifest result{std::move(*manifest), {}};
  for (std::size_t i = 0; i < signatures->size(); ++i) {
    const auto& entry = (*signatures)[i];
    const std::string path = "signatures." + std::to_string(i) + ".";
    if (!entry.is_object()) {
      return std::unexpected(DecodingError(path, "Expected to decode a dictionary but found another type."));
    }
    auto header = requireString(entry, "protected", path);
    if (!header) return std::unexpected(header.error());
    auto signature = requireString(entry, "signature", path);
    if (!signature) return std::unexpected(signature.error());
    result.signatures.push_back({std::move(*header), std::move(*signature)});
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
