// The sync of one application: ask the deploy service, then do nothing, apply a
// snapshot that is already on disk, or hand the download to the app's strategy; and
// the small steps that record a snapshot as current.
#include <fstream>
#include <sstream>

#include "client/check_types.h"
#include "client/live_updates_client.h"
#include "base/path_safety.h"
#include "sync/progress_reporter.h"
#include "base/sync_errors.h"
#include "sync/free_space.h"
#include "sync/sync_limits.h"
#include "base/timing.h"
#include "base/try.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/file_manager_util.h"
#include "store/app_store.h"
#include "store/check_times.h"
#include "store/launch_store.h"
#include "store/record_lookup.h"

namespace qelvo {
namespace {

using FailStep = SyncError::FailStep;

constexpr const char* kManifestFileName = "live-update-manifest.json";

// How often the time of the last successful check is written: a check that finds
// nothing new costs no store write most of the time.
constexpr std::chrono::minutes kCheckTimeResolution{15};

// A snapshot that a trim removed between the cache test and its recording.
SyncError snapshotGone(const std::string& appId, const std::string& snapshotId) {
  return metadataError(appId, FailStep::update,
                       "Snapshot " + snapshotId + " of application " + appId +
                           " is no longer on disk");
}

std::optional<Manifest> readManifest(const std::filesystem::path& directory) {
  std::ifstream in(directory / kManifestFileName, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  auto manifest = Manifest::decode(text.str());
  if (!manifest) return std::nullopt;
  return std::move(*manifest);
}

}  // namespace

std::expected<SuccessResponseData, Error> LiveUpdateManager::check(const SyncContext& context) {
  const auto& appId = context.appId;
  auto liveUpdate = instances_.get(appId);
  if (!liveUpdate) {
    return std::unexpected(metadataError(
        appId, FailStep::check,
        "Application " + appId + " has not been registered with LiveUpdateManager"));
  }
  CheckRequest request(Device::describe(deviceIdentifier()),
                       liveUpdate->strategy == LiveUpdate::Strategy::differential, appId,
                       liveUpdate->channel);
  auto response =
      client().checkForUpdate(request, context.stop, checkExchangeLimits(context));
  if (!response) {
    return std::unexpected(syncErrorFromClient(appId, FailStep::check, response.error()));
  }
  return std::move(*response);
}

LiveUpdateManager::Outcome LiveUpdateManager::runPipeline(const SyncContext& context) {
  const auto& appId = context.appId;
  const double start = secondsSince1970();
  QELVO_TRY(auto response, check(context));
  noteCheck(*userDefaults_, appId, std::chrono::system_clock::now(), kCheckTimeResolution);
  auto liveUpdate = instances_.get(appId);
  if (!liveUpdate) {
    return std::unexpected(metadataError(
        appId, FailStep::check, "Application with ID " + appId + " is not present in metadata storage"));
  }
  if (!response.available) {
    return SyncResult{*liveUpdate, std::nullopt, SyncResult::Cache{false}};
  }
  // The snapshot id becomes a directory name: one that could name another directory
  // is treated like a missing one.
  if (!response.snapshot || !response.build || !isSafePathComponent(*response.snapshot)) {
    return std::unexpected(metadataError(appId, FailStep::check,
                                         "CheckResponse does not contain valid snapshot or buildId"));
  }
  const std::string snapshotId = *response.snapshot;
  const std::int64_t build = *response.build;
  SyncContext offered = context;
  offered.snapshotId = snapshotId;
  if (auto refused = failedLaunchRefusal(appId, snapshotId, FailStep::check)) {
    return std::unexpected(std::move(*refused));
  }

  SyncResult result{*liveUpdate, std::nullopt, SyncResult::Download{}};
  bool download = needsDownload(appId, snapshotId);
  if (!download) {
    context.log("Snapshot present in cache for app " + appId + ". Applying snapshot " +
                snapshotId + " from cache...");
    auto before = latestAppDirectory(appId);
    auto applied = applySnapshot(appId, snapshotId, std::to_string(build));
    // A trim in another thread or process may have removed the snapshot meanwhile: then
    // it is downloaded like any snapshot that is not on disk.
    if (!applied && !needsDownload(appId, snapshotId)) return std::unexpected(applied.error());
    if (applied) {
      auto after = latestAppDirectory(appId);
      result = SyncResult{applied->first, applied->second, SyncResult::Cache{before != after}};
    }
    download = !applied;
  }
  if (download) {
    context.log("Snapshot not present in cache for " + appId + ". Downloading snapshot " +
                snapshotId + "...");
    auto url = response.url ? Url::parse(*response.url) : std::nullopt;
    if (!url) {
      return std::unexpected(metadataError(appId, FailStep::download,
                                           "Invalid url received from Braxo for download location"));
    }
    if (liveUpdate->strategy == LiveUpdate::Strategy::zip) {
      QELVO_TRY(result, downloadZip(offered, *liveUpdate, *url, snapshotId, build));
    } else {
      auto previous = latestAppDirectory(appId);
      if (!previous) previous = existingCaches_.get(appId);
      auto previousManifest = previous ? readManifest(*previous) : std::nullopt;
      if (previousManifest) {
        QELVO_TRY(result, downloadDifferential(offered, *liveUpdate, *url, snapshotId, build,
                                               *previous, *previousManifest));
      } else {
        QELVO_TRY(result, downloadFullDifferential(offered, *liveUpdate, *url, snapshotId, build));
      }
    }
  }
  context.log("Total time to sync app " + appId + " - " + elapsedSince(start) + "s");
  return result;
}

bool LiveUpdateManager::needsDownload(const std::string& appId,
                                      const std::string& snapshotId) const {
  auto snapshots = storedSnapshots(appId);
  bool recorded = std::any_of(snapshots.begin(), snapshots.end(),
                              [&](const Snapshot& s) { return s.id == snapshotId; });
  if (!recorded) return true;
  auto directory = fileManager_->snapshotDirectory(appId, snapshotId);
  if (!directory) return true;
  return !fileManager_->directoryHasContents(*directory);
}

std::vector<Snapshot> LiveUpdateManager::storedSnapshots(const std::string& appId) const {
  auto app = getApp(*userDefaults_, appId);
  if (!app) return {};
  return {app->snapshots.begin(), app->snapshots.end()};
}

std::expected<LiveUpdateManager::AppliedSnapshot, Error> LiveUpdateManager::applySnapshot(
    const std::string& appId, const std::string& snapshotId, const std::string& buildId) {
  auto liveUpdate = instances_.get(appId);
  auto app = getApp(*userDefaults_, appId);
  auto channel = (liveUpdate && app) ? findChannel(*app, liveUpdate->channel) : std::nullopt;
  if (!channel) {
    return std::unexpected(metadataError(
        appId, FailStep::update, "Application " + appId + " has not been configured for LiveUpdates"));
  }
  const Date now = std::chrono::system_clock::now();
  auto snapshot = findSnapshot(*app, snapshotId);
  if (!snapshot) snapshot = Snapshot{snapshotId, buildId, currentBinaryVersion(), now};
  if (!saveMetadata(*app, *channel, *snapshot, now)) {
    auto refused = failedLaunchRefusal(appId, snapshotId, FailStep::update);
    return std::unexpected(refused.value_or(snapshotGone(appId, snapshotId)));
  }
  return AppliedSnapshot{*liveUpdate, *snapshot};
}

bool LiveUpdateManager::saveMetadata(QelWebApp app, Channel channel, Snapshot snapshot, Date date) {
  snapshot.lastUsed = date;
  snapshot.binaryVersion = currentBinaryVersion();
  channel.currentSnapshot = snapshot;
  return updateAppSeeingLaunch(*userDefaults_, app.id, [&](std::optional<QelWebApp>& stored,
                                                           const LaunchRecord& launch) {
    // A launch that gave the snapshot up meanwhile wins: it is never recorded again.
    if (launch.failure(snapshot.id)) return false;
    // Checked with the record locked: a trim removes a directory only in the same
    // transaction that forgets it, so a snapshot recorded here stays on disk.
    auto directory = fileManager_->snapshotDirectory(app.id, snapshot.id);
    if (!directory || !fileManager_->directoryHasContents(*directory)) return false;
    if (!stored) stored = std::move(app);
    stored->lastSync = date;
    stored->channels.erase(channel);
    stored->channels.insert(std::move(channel));
    stored->snapshots.erase(snapshot);
    stored->snapshots.insert(std::move(snapshot));
    return true;
  });
}

std::expected<LiveUpdateManager::UnpackResult, Error> LiveUpdateManager::unpack(
    const SyncContext& context, const std::string& /*snapshotId*/) {
  const auto& appId = context.appId;
  const std::string prefix = "Application with ID " + appId;
  auto app = getApp(*userDefaults_, appId);
  if (!app) {
    return std::unexpected(
        metadataError(appId, FailStep::unpack, prefix + " is not present in metadata storage"));
  }
  auto liveUpdate = instances_.get(appId);
  if (!liveUpdate) {
    return std::unexpected(
        metadataError(appId, FailStep::unpack, prefix + " was not configured for live updates"));
  }
  auto channel = findChannel(*app, liveUpdate->channel);
  if (!channel) {
    return std::unexpected(metadataError(
        appId, FailStep::unpack,
        prefix + " was not configured to receive live updates for " + liveUpdate->channel));
  }
  auto limits = extractLimits(context.limits);
  QELVO_TRY(limits.writableBytes, writableSpace(context, context.workDirectory, FailStep::unpack));
  auto directory = fileManager_->unzipSnapshot(appId, context.archiveFile(),
                                               context.stagingDirectory(), limits, context.stop);
  if (!directory && context.stop.stop_requested()) return std::unexpected(CancellationError());
  if (!directory) {
    // A refused or broken archive leaves nothing behind: it was unpacked in the work
    // directory, which goes with the sync.
    return std::unexpected(makeSyncError(appId, FailStep::unpack,
                                         SyncError::Reason::fileManagerError(directory.error())));
  }
  return UnpackResult{std::move(*app), std::move(*liveUpdate), std::move(*channel),
                      std::move(*directory)};
}

std::expected<LiveUpdateManager::AppliedSnapshot, Error> LiveUpdateManager::completeDownload(
    const SyncContext& context, const std::string& snapshotId, std::int64_t build) {
  const auto& appId = context.appId;
  if (context.progress) context.progress->phase(ProgressReporter::Phase::unpack);
  QELVO_TRY(auto unpacked, unpack(context, snapshotId));
  auto installed = installSnapshot(context, unpacked.snapshotDirectory, snapshotId);
  if (!installed) {
    return std::unexpected(fileErrorOfStep(appId, FailStep::unpack, std::move(installed).error()));
  }
  const Date now = std::chrono::system_clock::now();
  Snapshot snapshot{snapshotId, std::to_string(build), currentBinaryVersion(), now};
  if (!saveMetadata(unpacked.app, unpacked.channel, snapshot, now)) {
    auto refused = failedLaunchRefusal(appId, snapshotId, FailStep::update);
    return std::unexpected(refused.value_or(snapshotGone(appId, snapshotId)));
  }
  return AppliedSnapshot{std::move(unpacked.liveUpdate), std::move(snapshot)};
}

}  // namespace qelvo
