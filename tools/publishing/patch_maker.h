// Patches of a new snapshot's files against the same files in older snapshots of the
// app: a device that holds an older version fetches a small patch instead of the whole
// file. A patch is a zstd frame compressed with the older file as its reference prefix
// (zstd's patch-from format), kept only when it is less than half the size of the new
// file compressed on its own.
//
// Patches live beside the files, under files/.patches/<older snapshot id>/<href>, so the
// deploy server, a static server or a CDN serves them like any file; they are left out
// of the archive and of the manifest's items.
#pragma once

#include <cstddef>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qelvo/manifest.h"

namespace qelvo::publishing {

// The directory below files/ that holds the patches; a source may not have one.
inline constexpr std::string_view kPatchesDirectoryName = ".patches";

// The largest file (old or new) a patch is made for: a device's default bound on the
// window (and so the memory) a patch may ask for.
inline constexpr std::size_t kMaxPatchedFileBytes = std::size_t{128} << 20;

// A zstd patch that turns `base` into `target`; none when either is too large.
std::optional<std::string> makeZstdPatch(std::string_view base, std::string_view target);

// An older snapshot to make patches from: its id, its files/ directory, and the
// integrity of each of its files by href, as its manifest lists them.
struct PatchSource {
  std::string snapshotId;
  std::filesystem::path files;
  std::unordered_map<std::string, std::string> integrities;
};

// The source for the snapshot `snapshotId` whose files are in `files`, read from its
// manifest; none when the manifest cannot be read.
std::optional<PatchSource> patchSourceOf(std::string snapshotId, std::filesystem::path files);

// Adds to each of `items` (the files below `files`) a patch from each source that holds
// another version of it at the same href, when the patch saves enough, writing the
// patches below `files`. How many patches it wrote, or why it could not.
std::expected<std::size_t, std::string> addPatches(std::vector<ManifestItem>& items,
                                                   const std::filesystem::path& files,
                                                   const std::vector<PatchSource>& sources);

}  // namespace qelvo::publishing
