#include "sync/free_space.h"

#include <cerrno>

#include "base/sync_errors.h"
#include "retrieval/file_operation.h"
#include "retrieval/file_system.h"

namespace qelvo {

std::expected<std::uint64_t, Error> writableSpace(const LiveUpdateManager::SyncContext& context,
                                                  const std::filesystem::path& onFilesystem,
                                                  SyncError::FailStep step) {
  auto free = files::freeBytes(onFilesystem);
  if (!free) {
    return std::unexpected(makeSyncError(
        context.appId, step,
        SyncError::Reason::fileManagerError(reportedFileError(std::move(free).error()))));
  }
  const auto reserve = context.limits.freeSpaceReserve;
  return *free > reserve ? *free - reserve : 0;
}

SyncError noSpaceFor(const LiveUpdateManager::SyncContext& context, SyncError::FailStep step,
                     const std::string& what, std::uint64_t needed, std::uint64_t writable) {
  auto error = PlatformError::fromErrno(
      ENOSPC, "Not enough free space for " + what + ": it needs " + std::to_string(needed) +
                  " bytes, and " + std::to_string(writable) +
                  " may be written on the cache's filesystem (" +
                  std::to_string(context.limits.freeSpaceReserve) + " are kept free)");
  return makeSyncError(context.appId, step,
                       SyncError::Reason::fileManagerError(reportedFileError(std::move(error))));
}

}  // namespace qelvo
