// Applying a "zstd-patch": a single zstd frame that is decompressed with an older version
// of the file as its reference prefix (the format `zstd --patch-from=OLD NEW` writes).
// The older file is mapped, not copied; the new one is written as it is decompressed.
//
//   auto applied = applyZstdPatch(previous / "js/app.js", work / "patch-3",
//                                 staging / "js/app.js", {.maxOutputBytes = size});
//
// Nothing an arbitrary patch holds can make it write more than `maxOutputBytes` or use a
// window (and so memory) larger than `maxWindowBytes`; on any failure the output file is
// removed. Whether the result is the right file is the caller's check (its digest).
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <stop_token>

#include "qelvo/errors.h"

namespace qelvo {

struct PatchBounds {
  std::uint64_t maxOutputBytes = 0;
  std::uint64_t maxWindowBytes = std::uint64_t{128} << 20;
};

// Writes `output` (which must not exist) from `patch` applied to `base`.
std::expected<void, PlatformError> applyZstdPatch(const std::filesystem::path& base,
                                                  const std::filesystem::path& patch,
                                                  const std::filesystem::path& output,
                                                  const PatchBounds& bounds,
                                                  std::stop_token stop = {});

}  // namespace qelvo
