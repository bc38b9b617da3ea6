// Copies of unchanged bundle files into a new snapshot, done by the kernel: a reflink
// where the filesystem shares blocks, copy_file_range otherwise.
#pragma once

#include <expected>
#include <filesystem>

#include "base/file_modes.h"
#include "qelvo/errors.h"

namespace qelvo {

// Copies the regular file `from` to `to`, created with `mode` (before the umask); fails
// when `to` already exists. A symbolic link at `from` is not followed.
std::expected<void, PlatformError> copyFileExclusive(const std::filesystem::path& from,
                                                     const std::filesystem::path& to,
                                                     mode_t mode = kFileMode);

}  // namespace qelvo
