// Room on the cache's filesystem for what a sync writes: every download and unpack is
// measured against the free space, less the reserve the limits keep, before it starts,
// so a sync fails cleanly instead of filling the disk.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

#include "qelvo/live_update_manager.h"

namespace qelvo {

// The bytes the sync may still write on the filesystem holding `onFilesystem`: its free
// bytes less `limits.freeSpaceReserve`, zero when there are fewer.
std::expected<std::uint64_t, Error> writableSpace(const LiveUpdateManager::SyncContext& context,
                                                  const std::filesystem::path& onFilesystem,
                                                  SyncError::FailStep step);

// The failure of `step` when `what` does not fit: "Not enough free space for <what>: ...".
SyncError noSpaceFor(const LiveUpdateManager::SyncContext& context, SyncError::FailStep step,
                     const std::string& what, std::uint64_t needed, std::uint64_t writable);

}  // namespace qelvo
