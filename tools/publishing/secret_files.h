// Files that must never be published by accident: a bundle is served to anyone who asks
// for it, so what a developer keeps beside the web files (a version-control folder, an
// environment file with credentials, a private key) would be handed to the world.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qelvo::publishing {

// Why the source entry at `path` (`relative` to the source directory) must not be
// published; none when it may be. A directory is judged by its name, a file by its name
// and its first bytes.
std::optional<std::string> secretReason(const std::filesystem::path& path,
                                        const std::filesystem::path& relative, bool isDirectory);

}  // namespace qelvo::publishing
