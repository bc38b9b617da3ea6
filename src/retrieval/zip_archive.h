// Owning handles for libzip, and libzip failures as PlatformError.
#pragma once

#include <zip.h>

#include <expected>
#include <filesystem>
#include <memory>
#include <string>

#include "qelvo/errors.h"

namespace qelvo {

struct ZipArchiveCloser {
  // Read-only use: nothing to write back, so discard rather than close.
  void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipArchiveCloser>;

struct ZipEntryReaderCloser {
  void operator()(zip_file_t* entry) const noexcept { zip_fclose(entry); }
};
using ZipEntryReader = std::unique_ptr<zip_file_t, ZipEntryReaderCloser>;

// Opens `archive` read-only.
std::expected<ZipArchive, PlatformError> openZipArchive(const std::filesystem::path& archive);

// "<what>: <libzip's text>" in the "libzip" domain with libzip's error code.
PlatformError zipError(zip_error_t* error, const std::string& what);
PlatformError zipError(int code, const std::string& what);

}  // namespace qelvo
