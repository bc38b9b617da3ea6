// The copy of a directory of web files that becomes a snapshot's files/ tree. The
// manifest and the archive are made from the copy, so a source that changes during a
// publish cannot make them disagree with what is served.
#pragma once

#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>

namespace qelvo::publishing {

// Copies every regular file below `source` into `destination` (created; must not
// exist), keeping relative paths, and returns how many files it copied. Refuses
// symbolic links and special files (a link could publish a file from outside the
// source), a "live-update-manifest.json" at the top (the publisher writes that one;
// with `sourceIsSnapshot`, the source is a snapshot's files and its manifest and patches
// are left out),
// what must never be published (see secret_files.h), and a source without files.
[[nodiscard]] std::expected<std::size_t, std::string> copyBundleFiles(
    const std::filesystem::path& source, const std::filesystem::path& destination,
    bool sourceIsSnapshot = false);

}  // namespace qelvo::publishing
