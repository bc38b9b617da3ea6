// The first pass of an extraction: every entry of an open archive is checked before
// anything is written, so a refused archive leaves nothing behind.
#pragma once

#include <zip.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "qelvo/errors.h"
#include "retrieval/zip_entry_path.h"
#include "retrieval/zip_extractor.h"

namespace qelvo {

struct PlannedEntry {
  zip_uint64_t index = 0;
  // The name as the archive gives it, for messages.
  std::string name;
  EntryPath path;
  // The uncompressed size the archive declares; extraction writes no more.
  std::uint64_t size = 0;
};

// The entries in archive order, or the refusal of the first that breaks a rule.
std::expected<std::vector<PlannedEntry>, PlatformError> planExtraction(
    zip_t* archive, const std::filesystem::path& archivePath, const ExtractLimits& limits);

// "Refused entry "<name>" of archive "<archive>": <reason>" in kArchiveErrorDomain.
PlatformError refusedEntry(ArchiveRefusal refusal, const std::string& entryName,
                           const std::filesystem::path& archivePath, const std::string& reason);

}  // namespace qelvo
