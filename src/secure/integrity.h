// Integrity validation of a snapshot directory against its manifest: every listed file
// must be present with a matching SHA-256 digest, and no other regular file may be
// present (apart from the manifest file itself).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "qelvo/manifest.h"
#include "qelvo/sync_error.h"

namespace qelvo {

// The violations, listed files first (in the order the items are visited), then files
// not in the manifest (sorted by path). Empty when the directory passes. Never fails:
// an unreadable listed file is `fileNotFound`.
std::vector<IntegrityViolation> validateIntegrity(const std::filesystem::path& directory,
                                                  const Manifest& manifest);

// The file's path relative to `directory` (whose path is a prefix of it).
std::string relativeHref(const std::filesystem::path& file, const std::filesystem::path& directory);

}  // namespace qelvo
