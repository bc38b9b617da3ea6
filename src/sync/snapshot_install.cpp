// How an assembled snapshot takes its place in the cache. The directory it goes to,
// {appId}/{snapshotId}, is named by the deploy service and shared by every manager of
// the container, so its state decides what happens:
//   - absent, or an empty directory: the snapshot is moved in;
//   - holding a snapshot that another manager records: it is never rewritten; it is
//     served as it is if `acceptExistingSnapshot` agrees (a secure manager checks it
//     holds exactly the files it verified), and the new copy is dropped;
//   - anything else (what an interrupted sync of this manager left): replaced in one
//     step, so the place is never empty or half written.
// The snapshot is written back to disk before it moves, so whatever stands in the
// cache under a snapshot's name is complete after a power cut as well. A host that
// shares unchanged files gets every file of the snapshot read-only first.
#include <cerrno>

#include "base/sync_errors.h"
#include "platform/host.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/durability.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/file_operation.h"
#include "retrieval/file_system.h"
#include "retrieval/shared_files.h"
#include "retrieval/work_area.h"
#include "store/app_store.h"

namespace qelvo {

std::expected<void, Error> LiveUpdateManager::acceptExistingSnapshot(
    const SyncContext& /*context*/, const std::filesystem::path& /*existing*/,
    const std::filesystem::path& /*staging*/) {
  return {};  // the same snapshot id names the same bundle
}

std::expected<std::filesystem::path, Error> LiveUpdateManager::installSnapshot(
    const SyncContext& context, const std::filesystem::path& staging,
    const std::string& snapshotId) {
  const auto& appId = context.appId;
  auto appDirectory = fileManager().appDirectory(appId);
  if (!appDirectory) {
    return std::unexpected(metadataError(appId, SyncError::FailStep::unpack,
                                         appId + " not registered with LiveUpdateManager"));
  }
  const auto destination = *appDirectory / snapshotId;
  // Shared files must never be written through: every file of the snapshot goes
  // read-only before it is written back (its change time is final from here on).
  if (context.limits.shareUnchangedFiles) {
    if (auto readOnly = makeFilesReadOnly(staging, context.stop); !readOnly) {
      if (context.stop.stop_requested()) return std::unexpected(CancellationError());
      return std::unexpected(reportedFileError(std::move(readOnly).error()));
    }
  }
  if (auto durable = makeSnapshotDurable(appId, staging, {}); !durable) {
    return std::unexpected(durable.error());
  }
  // Until it is recorded again, the record must not name a directory being replaced,
  // and no clean-up (which removes only what the record knows) may touch it.
  forgetSnapshot(*userDefaults(), appId, snapshotId);

  std::expected<void, PlatformError> placed;
  if (!files::exists(destination) || !fileManager().directoryHasContents(destination)) {
    // Left-overs that hold nothing (an empty directory, or not a directory) make way.
    if (files::exists(destination)) (void)files::removeRecursively(destination);
    placed = files::moveWithoutReplacing(staging, destination);
  } else if (isSnapshotRecordedElsewhere(*userDefaults(), appId, snapshotId)) {
    if (auto accepted = acceptExistingSnapshot(context, destination, staging); !accepted) {
      return std::unexpected(accepted.error());
    }
    return destination;
  } else {
    placed = replaceInOneStep(staging, destination, platform::temporaryDirectory());
  }
  if (!placed) return std::unexpected(reportedFileError(std::move(placed).error()));
  if (auto flushed = flushDirectory(*appDirectory); !flushed) {
    return std::unexpected(makeSyncError(
        appId, SyncError::FailStep::unpack,
        SyncError::Reason::fileManagerError(reportedFileError(std::move(flushed).error()))));
  }
  return destination;
}

}  // namespace qelvo
