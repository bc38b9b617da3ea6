// Snapshots that share their unchanged files instead of copying them: for hosts that
// treat bundles as read-only and want fewer writes to their flash.
//
// An unchanged file becomes a hard link to the previous snapshot's file when that file
// is already read-only (a file of a snapshot made in this mode), and a read-only copy
// otherwise: a link never changes the mode, or anything else, of a file that a kept
// snapshot holds. Removing one snapshot removes only its names; the files of the others
// stay as they are.
#pragma once

#include <expected>
#include <filesystem>
#include <stop_token>

#include "qelvo/errors.h"

namespace qelvo {

// Puts `from`'s content at `to` (which must not exist): a hard link when `from` is a
// read-only regular file on the same filesystem, else a copy made read-only. A symbolic
// link at `from` is not followed.
std::expected<void, PlatformError> shareFileExclusive(const std::filesystem::path& from,
                                                      const std::filesystem::path& to);

// Makes every regular file below `directory` read-only (kSharedFileMode); files that
// already are (links to earlier snapshots) are left untouched, so their change times
// stay as they were. A stop request ends it (ECANCELED).
std::expected<void, PlatformError> makeFilesReadOnly(const std::filesystem::path& directory,
                                                     std::stop_token stop = {});

}  // namespace qelvo
