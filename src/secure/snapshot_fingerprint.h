// A fingerprint of a snapshot directory as it stands on disk: every entry's relative
// path, type, mode, size, inode and modification and change times. Cheap to take (one
// walk of the tree, no file read) and changed by any write, replacement, rename, removal
// or addition below the directory, so a secure manager that took it right after it
// verified a snapshot knows, later, whether the files it would serve are still the ones
// it verified.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qelvo {

// None when the directory cannot be walked whole.
std::optional<std::string> snapshotFingerprint(const std::filesystem::path& directory);

}  // namespace qelvo
