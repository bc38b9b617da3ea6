// The ZIP archive of a bundle directory, as devices download it: every regular file,
// named by its path relative to the directory ("/" between directories), deflated.
//
//   writeBundleArchive(snapshot / "files", snapshot / "bundle.zip");
//
// Entries are written in byte order of their names with one fixed time stamp and
// mode 0644, so the same directory always gives the same entries in the same order.
#pragma once

#include <expected>
#include <filesystem>
#include <string>

namespace qelvo::publishing {

// Writes the archive of `directory` to `archive` (replacing it). Symbolic links and
// other special files are refused; empty directories are left out.
[[nodiscard]] std::expected<void, std::string> writeBundleArchive(
    const std::filesystem::path& directory, const std::filesystem::path& archive);

}  // namespace qelvo::publishing
