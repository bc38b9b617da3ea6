// Extraction of a ZIP archive into a directory with libzip: stored and deflate
// entries, intermediate directories created. Nothing is ever written outside the
// destination: entries with an absolute path, a ".." segment that leaves the
// destination, or a symbolic link are refused and fail the extraction.
#pragma once

#include <expected>
#include <filesystem>

#include "qelvo/errors.h"

namespace qelvo {

std::expected<void, PlatformError> extractZip(const std::filesystem::path& archive,
                                              const std::filesystem::path& destination);

}  // namespace qelvo
