/// @file
/// The file list of a bundle, as the deploy service publishes it and as every
/// file-by-file snapshot keeps it in "live-update-manifest.json":
///
/// @code
///   {"payload": "<standard Base64 of [{\"href\":..,\"size\":..,\"integrity\":..}, ...]>"}
/// @endcode
///
/// The payload text is kept exactly as read, so a manifest read and written back is
/// byte-identical whatever the order of its items (signatures are made over that text).
///
/// An item may also list patches: smaller downloads that turn an older version of the
/// file into this one,
///
/// @code
///   {"href":"js/app.js","size":812345,"integrity":"sha256-…",
///    "patches":[{"base":"sha256-<integrity of the older file>",
///                "href":".patches/<older snapshot id>/js/app.js","size":2345,
///                "algorithm":"zstd-patch"}]}
/// @endcode
///
/// A device that has a file with the `base` integrity at the item's href may fetch the
/// patch (its href relative to the manifest, like any file) and apply it; the result
/// must have the item's integrity, else the whole file is fetched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "qelvo/export.h"
#include "qelvo/errors.h"
#include "qelvo/url.h"

namespace qelvo {

/// A patch of a manifest item (see above). "zstd-patch" is zstd's patch-from format: a
/// zstd frame decompressed with the older file as its reference prefix.
struct ManifestPatch {
  std::string base;       ///< the integrity value of the file it applies to
  std::string href;       ///< relative to the manifest, like a file's href
  std::uint64_t size;     ///< bytes
  std::string algorithm;  ///< "zstd-patch"; others are skipped by devices that know none

  friend bool operator==(const ManifestPatch&, const ManifestPatch&) = default;
};

/// One file of a bundle.
struct ManifestItem {
  std::string href;       ///< relative to the bundle root, "/" between directories
  std::uint64_t size;     ///< bytes
  std::string integrity;  ///< "sha256-<Base64 digest>"
  /// Smaller ways to the same file from older versions of it. Not part of the item's
  /// identity: an item is unchanged when its href, size and integrity are.
  std::vector<ManifestPatch> patches{};

  friend bool operator==(const ManifestItem& a, const ManifestItem& b) {
    return a.href == b.href && a.size == b.size && a.integrity == b.integrity;
  }
};

/// Hashes an item by href, size and integrity, as equality compares it.
struct QELVO_EXPORT ManifestItemHash {
  std::size_t operator()(const ManifestItem& item) const noexcept;  ///< never throws
};

/// A decoded manifest (see above): the items, and the payload text they came from. A plain value.
struct QELVO_EXPORT Manifest {
  std::unordered_set<ManifestItem, ManifestItemHash> payload;  ///< the items (identical ones once)
  std::string _payload;  ///< the exact Base64 text `payload` was decoded from

  /// Decodes {"payload": "..."}; the payload must be strict standard Base64 of a JSON
  /// array of items (all three keys required, size a non-negative integer).
  static std::expected<Manifest, DecodingError> decode(std::string_view json);
  /// Decodes the Base64 payload text alone.
  static std::expected<Manifest, DecodingError> fromPayload(std::string payloadText);
  /// Builds a manifest from items, encoding them into a fresh payload text. Throws
  /// EncodingError when an href or integrity is not valid UTF-8.
  static Manifest fromItems(const std::vector<ManifestItem>& items);
  /// {"payload":"<_payload>"}. Throws EncodingError when `_payload` was replaced by text
  /// that is not valid UTF-8 (a decoded payload is always ASCII).
  std::string encode() const;
};

/// The URL parts of one file of a manifest: the manifest URL's scheme, host, port and
/// query, the directory of its path (`basePath`, decoded, beginning with "/"), and the
/// item's href, unchanged, with its directory and file name (its "." and ".." parts
/// resolved).
struct DownloadFileRequest {
  std::string basePath;  ///< see above
  std::string href;  ///< see above
  std::string scheme;  ///< the manifest URL's scheme
  std::string host;  ///< the manifest URL's host
  std::optional<std::uint16_t> port;  ///< only when the manifest URL names one
  /// The manifest URL's query, none without one.
  std::optional<std::vector<Url::QueryItem>> queryItems;
  std::string parentHref;  ///< the href's directory, "" at the root
  std::string filename;  ///< the href's last part
  /// The size the manifest gives the file (what bounds its body is the manager's choice).
  std::optional<std::uint64_t> size{};

  friend bool operator==(const DownloadFileRequest&, const DownloadFileRequest&) = default;
};

}  // namespace qelvo
