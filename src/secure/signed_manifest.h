// The signed form of a bundle manifest (JWS-like general serialization):
//
//   {"payload": "<standard Base64 of the item array>",
//    "signatures": [{"protected": "<header>", "signature": "<URL-safe Base64>"}, ...]}
//
// A signature covers the ASCII text `protected + "." + payload`, exactly as it stands
// in the document (not the items), with RSASSA-PKCS1-v1_5 and SHA-256.
#pragma once

#include <expected>
#include <stop_token>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qelvo/errors.h"
#include "qelvo/manifest.h"

namespace qelvo {

class RsaPublicKey;

struct SecureManifest {
  // A real manifest carries a signature or two (one per key during a rotation); a
  // document with many more only makes a device verify for nothing.
  static constexpr std::size_t kMaxSignatures = 16;

  struct Signature {
    std::string protectedHeader;  // "protected"
    std::string signature;
  };

  Manifest manifest;
  std::vector<Signature> signatures;

  // Fails on malformed JSON, a missing or mistyped key, more than `kMaxSignatures`
  // signatures, or a payload that is not strict Base64 ("'payload' was not a base64
  // encoded string") of an item array.
  static std::expected<SecureManifest, DecodingError> decode(std::string_view json);
};

// Whether one signature verifies over `protectedHeader + "." + payloadText`.
bool verifySignature(const SecureManifest::Signature& signature, const std::string& payloadText,
                     const RsaPublicKey& key);

// Whether any signature verifies, tried in document order (the first that verifies
// ends the search). An empty list never verifies. Each distinct signing input is hashed
// once; a stop request ends the search (nothing verified).
bool verifyAnySignature(const SecureManifest& manifest, const RsaPublicKey& key,
                        std::stop_token stop = {});
// The same, giving the signature that verified (its protected header carries the
// release claims); none when none does.
std::optional<std::size_t> firstVerifyingSignature(const SecureManifest& manifest,
                                                   const RsaPublicKey& key,
                                                   std::stop_token stop = {});

}  // namespace qelvo
