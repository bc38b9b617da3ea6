// Integrity validation of a snapshot directory against its manifest: every listed file
// must be present with a matching SHA-256 digest, and no other regular file may be
// present (apart from the manifest file itself).
#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "qelvo/manifest.h"
#include "qelvo/sync_error.h"

namespace qelvo {

// The violations, listed files first (in the order the items are visited), then files
// not in the manifest (sorted by path; only the manifest file at the directory's root is
// not listed in itself). Empty when the directory passes. Never fails: an unreadable
// listed file is `fileNotFound`, and a subdirectory that cannot be listed is passed over.
// A stop request ends the hashing early: the list is then incomplete, and the caller,
// which asked for the stop, does not use it.
std::vector<IntegrityViolation> validateIntegrity(const std::filesystem::path& directory,
                                                  const Manifest& manifest,
                                                  std::stop_token stop = {});

// The file's path relative to `directory` (whose path is a prefix of it).
std::string relativeHref(const std::filesystem::path& file, const std::filesystem::path& directory);

}  // namespace qelvo
