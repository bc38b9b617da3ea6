// Building bundle manifests for publishing: the items of a directory of web files
// (with "sha256-" integrity values), and the signed form of a manifest.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publishing/rsa_signer.h"
#include "qelvo/manifest.h"

namespace qelvo::publishing {

struct SignatureEntry {
  std::string protectedHeader;
  std::string signature;
};

// Every regular file below `root` (sorted by href) with its size and digest. Hidden
// files are included; "live-update-manifest.json" and the patches at the root are left
// out.
std::vector<ManifestItem> manifestItemsOf(const std::filesystem::path& root);

// The protected header of our signatures: Base64url of {"alg":"RS256"}.
std::string rs256ProtectedHeader();

// What a release says it is for: the app, its snapshot id, a sequence that only grows
// from one release of the app to the next (the build number), when it was made and,
// optionally, when it expires (seconds since 1970, UTC). Devices refuse a signed
// manifest whose claims do not fit what they were offered.
struct ReleaseClaimsToSign {
  std::string app;
  std::string snapshot;
  std::int64_t sequence = 0;
  std::int64_t created = 0;
  std::optional<std::int64_t> expires{};
};

// The protected header carrying `claims`: Base64url of
// {"alg":"RS256","app":…,"snapshot":…,"sequence":…,"created":…[,"expires":…]}.
std::string claimsProtectedHeader(const ReleaseClaimsToSign& claims);

// A signature of `protectedHeader + "." + payloadText`, in unpadded Base64url.
SignatureEntry signPayload(const RsaSigner& signer, const std::string& payloadText,
                           const std::string& protectedHeader = rs256ProtectedHeader());

// {"payload": payloadText, "signatures": [...]}
std::string encodeSignedManifest(const std::string& payloadText,
                                 const std::vector<SignatureEntry>& signatures);

}  // namespace qelvo::publishing
