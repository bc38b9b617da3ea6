// SHA-256 digests of files, read in chunks so memory does not grow with file size.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qelvo {

// "sha256-" + standard Base64 of the file's SHA-256 digest (51 characters); none when
// the path is not a readable regular file.
std::optional<std::string> fileDigestText(const std::filesystem::path& file);

// The same digest text of bytes in memory.
std::string contentDigestText(std::string_view bytes);

}  // namespace qelvo
