// The signed-manifest decoder, the release claims of its headers, and signature
// verification with a key made at start:
// nothing an attacker sends may crash them, and nothing unsigned may verify.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "publishing/rsa_signer.h"
#include "secure/public_key.h"
#include "secure/release_claims.h"
#include "secure/signed_manifest.h"

namespace {
std::shared_ptr<const qelvo::RsaPublicKey> key;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  auto signer = qelvo::publishing::RsaSigner::generate(2048);
  key = qelvo::RsaPublicKey::fromText(signer.publicKeyPem());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)qelvo::RsaPublicKey::fromText(text);
  auto document = qelvo::SecureManifest::decode(text);
  if (!document) return 0;
  // Release claims are read from a header only once its signature verified, yet reading
  // any header must be safe.
  for (const auto& signature : document->signatures) {
    (void)qelvo::readReleaseClaims(signature.protectedHeader);
  }
  // The private key never leaves LLVMFuzzerInitialize: no input can carry a signature
  // that verifies.
  if (qelvo::verifyAnySignature(*document, *key)) __builtin_trap();
  return 0;
}
