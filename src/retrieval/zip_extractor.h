// Extraction of a ZIP archive into a directory with libzip: stored and deflate
// entries, intermediate directories created, files 0644 and directories 0755 (before
// the umask) whatever the archive says.
//
// Nothing is ever written outside the destination. Every entry is checked before the
// first byte is written, and the whole extraction is refused, with a PlatformError
// naming the entry, when one has an absolute path, a ".." that leaves the destination,
// a backslash, a symbolic-link or other special type, a duplicate name (after
// normalisation, or a name that is both a file and a directory), encryption, a
// compression method other than stored or deflate, sizes beyond `ExtractLimits`, or
// entries whose data overlap; and when its local headers disagree with its central
// directory (a name that differs, for one).
// Writing then never follows a symbolic link: directories are entered and files created
// with O_NOFOLLOW, and files must not exist yet, so a link already in the destination
// cannot redirect a write.
//
//   if (auto done = extractZip(archive, snapshotDirectory); !done)
//     printLine(done.error().description);
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <stop_token>

#include "qelvo/errors.h"

namespace qelvo {

// Caps on what one archive may unpack to, checked against the sizes its directory
// declares before anything is written; the bytes actually written never exceed what
// was declared. The defaults only stop archives no web bundle can be.
struct ExtractLimits {
  std::uint64_t maxEntries = 100'000;
  std::uint64_t maxTotalUncompressedBytes = std::uint64_t{4} << 30;  // 4 GiB
  // Uncompressed over compressed size, for entries larger than `ratioCheckFromBytes`.
  // Deflate cannot honestly exceed about 1032:1, so a higher declared ratio is a lie.
  std::uint64_t maxCompressionRatio = 1100;
  std::uint64_t ratioCheckFromBytes = std::uint64_t{1} << 20;  // 1 MiB
  // What may be written on the destination's filesystem, when it is less than the
  // total above: an archive that declares more is refused before anything is written.
  std::optional<std::uint64_t> writableBytes{};
};

// The domain of the PlatformError for archive content that is refused, and its codes.
// Failures of libzip itself have the domain "libzip" and libzip's error code; failures
// of the file system "posix" and errno.
inline constexpr const char* kArchiveErrorDomain = "QelvoLiveUpdates.ArchiveError";
enum class ArchiveRefusal {
  unsafePath = 1,
  unsupportedEntryType,
  duplicateEntry,
  encryptedEntry,
  unsupportedCompression,
  limitExceeded,
  corruptEntry,
  overlappingEntries,
};

// Extracts every entry of `archive` into the existing directory `destination`. On
// failure, entries extracted before it stay in place.
// A stop request ends it between entries (ECANCELED).
std::expected<void, PlatformError> extractZip(const std::filesystem::path& archive,
                                              const std::filesystem::path& destination,
                                              const ExtractLimits& limits = {},
                                              std::stop_token stop = {});

}  // namespace qelvo
