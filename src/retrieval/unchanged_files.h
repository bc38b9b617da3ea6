// The unchanged files of a differential download, copied from the previous snapshot
// into the staging directory by the kernel (copy_file_range), on several threads: the
// cost is per file, and ten thousand files on one thread leave the other cores idle.
//
// Copies, not hard links, unless the host asks to share them: a snapshot that shares
// inodes with another changes with it, and the previous directory may be a copy the host
// shipped and updates in place (see retrieval/shared_files.h for the shared form).
#pragma once

#include <cstddef>
#include <filesystem>
#include <stop_token>
#include <optional>
#include <vector>

#include "qelvo/errors.h"
#include "qelvo/manifest.h"

namespace qelvo {

// The first item, in list order, that could not be placed, and why: its directory in
// the staging directory could not be created, or the file could not be copied. Items
// before it are all in place; later ones may be too.
struct UnchangedFileFailure {
  std::size_t item = 0;
  PlatformError error;
};

// How an unchanged file reaches the new snapshot.
enum class UnchangedFileMode { copy, share };

// Copies (or shares) previous/href to staging/<href's directory>/<href's last piece> for
// every item, creating the directories. Prints nothing. A stop request ends it between
// files (ECANCELED).
std::optional<UnchangedFileFailure> copyUnchangedFiles(
    const std::vector<ManifestItem>& items, const std::filesystem::path& previous,
    const std::filesystem::path& staging, std::stop_token stop = {},
    UnchangedFileMode mode = UnchangedFileMode::copy);

}  // namespace qelvo
