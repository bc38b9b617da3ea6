// Archive extraction into a temporary directory: whatever the archive holds, nothing
// may land outside the destination, and the caps on entries and bytes must hold.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_files.h"
#include "retrieval/zip_extractor.h"

namespace {

namespace fs = std::filesystem;

constexpr qelvo::ExtractLimits kLimits{.maxEntries = 64,
                                       .maxTotalUncompressedBytes = 1 << 20,
                                       .maxCompressionRatio = 1100,
                                       .ratioCheckFromBytes = 1 << 16};

fs::path workspace() {
  static const fs::path root = qelvo::fuzz::makeWorkspace("qelvo-fuzz-zip");
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto root = workspace();
  const auto archive = root / "input.zip";
  const auto destination = root / "out";
  std::error_code ec;
  fs::remove_all(destination, ec);
  fs::create_directory(destination);
  qelvo::fuzz::writeInput(archive, data, size);
  (void)qelvo::extractZip(archive, destination, kLimits);

  // Only the archive and the destination may exist beside each other.
  std::size_t siblings = 0;
  for (const auto& entry : fs::directory_iterator(root)) {
    (void)entry;
    ++siblings;
  }
  if (siblings != 2) __builtin_trap();
  std::uintmax_t bytes = 0;
  std::size_t files = 0;
  for (auto it = fs::recursive_directory_iterator(destination); it != fs::recursive_directory_iterator();
       ++it) {
    if (it->is_symlink()) __builtin_trap();
    if (it->is_regular_file()) {
      ++files;
      bytes += it->file_size();
    }
  }
  if (files > kLimits.maxEntries || bytes > kLimits.maxTotalUncompressedBytes) __builtin_trap();
  return 0;
}
