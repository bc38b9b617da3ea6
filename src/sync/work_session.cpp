// What surrounds one sync: a lease on the work area (left-overs of interrupted syncs are
// cleared while none is held), the application's lock (one sync of an app at a time,
// across managers and processes), and a work directory of the sync's own.
#include "base/sync_errors.h"
#include "platform/host.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/app_lock.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/work_area.h"

namespace qelvo {

LiveUpdateManager::Outcome LiveUpdateManager::runInWorkArea(SyncContext context) {
  const auto& appId = context.appId;
  const auto temporaryDirectory = platform::temporaryDirectory();
  const auto lease = WorkAreaLease::acquire(temporaryDirectory, fileManager().liveUpdatesUrl());

  std::optional<AppLock> lock;
  if (auto directory = fileManager().appDirectory(appId)) {
    auto acquired = AppLock::acquire(*directory, context.limits.idleTimeout, context.stop);
    if (!acquired && acquired.error() == AppLock::Failure::cancelled) {
      return std::unexpected(CancellationError());
    }
    if (!acquired) {
      return std::unexpected(metadataError(
          appId, SyncError::FailStep::check,
          "Another sync of " + appId + " was still running after " +
              std::to_string(context.limits.idleTimeout.count()) + " s"));
    }
    lock.emplace(std::move(*acquired));
  }

  const auto work = WorkDirectory::reserve(temporaryDirectory);
  context.workDirectory = work.path();
  return runReportedPipeline(context);
}

}  // namespace qelvo
