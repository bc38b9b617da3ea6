#include "publishing/signed_manifest_writer.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "publishing/patch_maker.h"
#include "toolkit/toolkit.h"

namespace qelvo::publishing {

std::vector<ManifestItem> manifestItemsOf(const std::filesystem::path& root) {
  std::vector<ManifestItem> items;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    auto href = entry.path().lexically_relative(root).generic_string();
    if (href == "live-update-manifest.json" || href.starts_with(std::string(kPatchesDirectoryName) + "/")) {
      continue;
    }
    auto digest = fileDigestText(entry.path());
    if (!digest) throw std::runtime_error("cannot read " + entry.path().string());
    items.push_back({href, entry.file_size(), *digest});
  }
  std::sort(items.begin(), items.end(),
            [](const ManifestItem& a, const ManifestItem& b) { return a.href < b.href; });
  return items;
}

std::string rs256ProtectedHeader() { return base64UrlEncode(R"({"alg":"RS256"})"); }

std::string claimsProtectedHeader(const ReleaseClaimsToSign& claims) {
  nlohmann::ordered_json header = {{"alg", "RS256"},
                                   {"app", claims.app},
                                   {"snapshot", claims.snapshot},
                                   {"sequence", claims.sequence},
                                   {"created", claims.created}};
  if (claims.expires) header["expires"] = *claims.expires;
  return base64UrlEncode(header.dump());
}

SignatureEntry signPayload(const RsaSigner& signer, const std::string& payloadText,
                           const std::string& protectedHeader) {
  return {protectedHeader, base64UrlEncode(signer.sign(protectedHeader + "." + payloadText))};
}

std::string encodeSignedManifest(const std::string& payloadText,
                                 const std::vector<SignatureEntry>& signatures) {
  nlohmann::json document = {{"payload", payloadText}, {"signatures", nlohmann::json::array()}};
  for (const auto& entry : signatures) {
    document["signatures"].push_back({{"protected", entry.protectedHeader}, {"signature", entry.signature}});
  }
  return document.dump();
}

}  // namespace qelvo::publishing
