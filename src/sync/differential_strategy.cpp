// The differential strategy: a snapshot assembled file by file in a staging directory,
// from files downloaded in parallel and unchanged files copied from the previous
// snapshot, then moved into the cache in one step.
#include "client/download_request.h"
#include "client/live_updates_client.h"
#include "base/path_safety.h"
#include "sync/progress_reporter.h"
#include "base/sync_errors.h"
#include "sync/sync_limits.h"
#include "base/timing.h"
#include "base/try.h"
#include "platform/host.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/durability.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/file_operation.h"
#include "retrieval/file_url.h"
#include "retrieval/unchanged_files.h"
#include "retrieval/work_area.h"
#include "store/app_store.h"

namespace qelvo {
namespace {

using FailStep = SyncError::FailStep;

constexpr const char* kManifestFileName = "live-update-manifest.json";

// A manifest may only name files inside its bundle: nothing it lists is read or written
// before every href has been checked.
std::expected<void, Error> requireSafeHrefs(const std::string& appId, const Manifest& manifest) {
  for (const auto& item : manifest.payload) {
    if (!isSafeRelativePath(item.href)) {
      return std::unexpected(metadataError(appId, FailStep::download,
                                           "Manifest contains an unsafe href: " + item.href));
    }
  }
  return {};
}

void startPhase(const std::shared_ptr<ProgressReporter>& progress, ProgressReporter::Phase phase,
                const std::vector<ManifestItem>& items) {
  if (!progress) return;
  std::uint64_t bytes = 0;
  for (const auto& item : items) bytes += item.size;
  progress->phase(phase, items.size(), bytes);
}

std::vector<DownloadFileRequest> requestsFor(const std::vector<ManifestItem>& items,
                                             const Url& manifestUrl) {
  auto builder = makeDownloadFileRequestBuilder(manifestUrl);
  std::vector<DownloadFileRequest> requests;
  for (const auto& item : items) {
    if (auto request = builder(item.href)) {
      request->size = item.size;
      requests.push_back(std::move(*request));
    }
  }
  return requests;
}

// Clears what an interrupted attempt may have left for this snapshot: its staging
// directory, so that downloads do not collide with stale files.
void clearStaging(FileManagerUtilProtocol& files, const std::string& snapshotId) {
  (void)files.removeTemporaryItem(snapshotId);
}

// The staging directory appears with the first file placed in it; a bundle with no file
// to fetch or copy (an empty one, or one whose files cannot be requested) still needs
// it to hold its manifest.
std::expected<void, Error> createStaging(FileManagerUtilProtocol& files, const std::string& appId,
                                         const std::filesystem::path& staging) {
  if (auto created = files.createDirectory(staging); !created) {
    return std::unexpected(makeSyncError(appId, FailStep::unpack,
                                         SyncError::Reason::fileManagerError(created.error())));
  }
  return {};
}

// Before the final move: a destination that exists but is not a usable cached snapshot
// (a crash between the move and the metadata save, or an emptied directory) is removed,
// so that it cannot block every later sync of the snapshot; and the record forgets the
// snapshot until the new directory is recorded.
void clearUnusableDestination(KeyValueSuite& store, bool unusable, const std::string& appId,
                              const std::string& snapshotId,
                              const std::filesystem::path& destination) {
  if (!unusable) return;
  forgetSnapshot(store, appId, snapshotId);
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(destination, ec))) {
    std::filesystem::remove_all(destination, ec);
  }
}

}  // namespace

std::expected<LiveUpdateManager::FetchedManifest, Error> LiveUpdateManager::fetchManifest(
    const SyncContext& context, const Url& url) {
  const auto& appId = context.appId;
  auto fetched = client().fetchManifest(url, context.stop, manifestExchangeLimits(context.limits));
  if (!fetched) {
    return std::unexpected(syncErrorFromClient(appId, FailStep::download, fetched.error()));
  }
  auto manifest = Manifest::decode(fetched->body);
  if (!manifest) {
    return std::unexpected(metadataError(appId, FailStep::download,
                                         "'Manifest' data was malformed - " + manifest.error().description));
  }
  return FetchedManifest{std::move(*manifest), std::move(fetched->url)};
}

std::expected<void, Error> LiveUpdateManager::writeManifest(const SyncContext& context,
                                                           const std::filesystem::path& directory,
                                                           const Manifest& manifest) {
  const auto& appId = context.appId;
  auto text = manifest.encode();
  context.log("Writing manifest to snapshot directory");
  if (auto written = fileManager().writeString(text, directory / kManifestFileName); !written) {
    return std::unexpected(makeSyncError(appId, FailStep::unpack,
                                         SyncError::Reason::fileManagerError(written.error())));
  }
  return {};
}

LiveUpdateManager::Outcome LiveUpdateManager::downloadDifferential(
    const SyncContext& context, const LiveUpdate& liveUpdate, const Url& url,
    const std::string& snapshotId, std::int64_t build,
    const std::filesystem::path& previousDirectory, const Manifest& previousManifest) {
  const auto& appId = liveUpdate.appId;
  const double start = secondsSince1970();
  clearStaging(fileManager(), snapshotId);
  QELVO_TRY(auto fetched, fetchManifest(context, url));
  QELVO_TRY_VOID(requireSafeHrefs(appId, fetched.manifest));
  context.log("Manifest for snapshot " + snapshotId + " fetched.");

  std::vector<ManifestItem> unchanged;
  std::vector<ManifestItem> changed;
  for (const auto& item : fetched.manifest.payload) {
    (previousManifest.payload.contains(item) ? unchanged : changed).push_back(item);
  }

  const auto staging = platform::temporaryDirectory() / snapshotId;
  const StagingMark mark(staging.parent_path(), snapshotId);
  auto fail = [&](Error error) -> Outcome {
    (void)fileManager().removeTemporaryItem(snapshotId);
    return std::unexpected(std::move(error));
  };

  const auto& progress = context.progress;
  startPhase(progress, ProgressReporter::Phase::download, changed);
  if (auto downloaded = downloadFileList(context, requestsFor(changed, fetched.url), staging);
      !downloaded) {
    return fail(downloaded.error());
  }
  context.log("Total time to download new differential files " + elapsedSince(start));
  context.log("Copying unchanged files to new snapshot directory");
  startPhase(progress, ProgressReporter::Phase::copy, unchanged);
  // The copies run on several threads; their lines and their failure are reported here
  // in list order, as a loop copying one file after another would report them.
  auto copyFailure = copyUnchangedFiles(unchanged, previousDirectory, staging);
  for (std::size_t i = 0; i < unchanged.size(); ++i) {
    context.log("Copying " + unchanged[i].href);
    if (copyFailure && copyFailure->item == i) {
      return fail(makeSyncError(appId, FailStep::unpack,
                                SyncError::Reason::fileManagerError(
                                    reportedFileError(std::move(copyFailure->error)))));
    }
    if (progress) progress->fileDone(unchanged[i].size);
  }
  context.log("Completed copying unchanged files to new snapshot directory in " + elapsedSince(start));

  auto appDirectory = fileManager().appDirectory(appId);
  if (!appDirectory) {
    return fail(metadataError(appId, FailStep::unpack, appId + " not registered with LiveUpdateManager"));
  }
  if (auto created = createStaging(fileManager(), appId, staging); !created) {
    return fail(created.error());
  }
  if (auto written = writeManifest(context, staging, fetched.manifest); !written) {
    return fail(written.error());
  }
  const auto destination = *appDirectory / snapshotId;
  clearUnusableDestination(*userDefaults(), needsDownload(appId, snapshotId), appId, snapshotId,
                           destination);
  if (auto moved = fileManager().moveItem(staging, destination); !moved) {
    return fail(moved.error());
  }
  if (auto durable = makeSnapshotDurable(appId, destination, {*appDirectory, staging.parent_path()});
      !durable) {
    return fail(durable.error());
  }
  context.log("Copied differential update to live update directory");
  auto applied = applySnapshot(appId, snapshotId, std::to_string(build));
  if (!applied) return fail(applied.error());
  context.log("Total time to differential update " + elapsedSince(start));
  (void)fileManager().removeTemporaryItem(snapshotId);
  return SyncResult{std::move(applied->first), std::move(applied->second), SyncResult::Download{}};
}

LiveUpdateManager::Outcome LiveUpdateManager::downloadFullDifferential(
    const SyncContext& context, const LiveUpdate& liveUpdate, const Url& url,
    const std::string& snapshotId, std::int64_t build) {
  const auto& appId = liveUpdate.appId;
  context.log("Existing manifest not found, performing full download");
  const double start = secondsSince1970();
  const auto staging = platform::temporaryDirectory() / snapshotId;
  const StagingMark mark(staging.parent_path(), snapshotId);
  auto fail = [&](Error error, bool removeStaging = true) -> Outcome {
    if (removeStaging) (void)fileManager().removeTemporaryItem(snapshotId);
    context.log("Time to full download " + elapsedSince(start) + "s");
    return std::unexpected(std::move(error));
  };
  clearStaging(fileManager(), snapshotId);

  auto fetched = fetchManifest(context, url);
  if (!fetched) return fail(fetched.error(), false);
  if (auto safe = requireSafeHrefs(appId, fetched->manifest); !safe) return fail(safe.error(), false);

  std::vector<ManifestItem> items(fetched->manifest.payload.begin(), fetched->manifest.payload.end());
  startPhase(context.progress, ProgressReporter::Phase::download, items);
  if (auto downloaded = downloadFileList(context, requestsFor(items, fetched->url), staging);
      !downloaded) {
    return fail(downloaded.error());
  }
  if (auto created = createStaging(fileManager(), appId, staging); !created) {
    return fail(created.error());
  }
  if (auto written = writeManifest(context, staging, fetched->manifest); !written) {
    return fail(written.error());
  }
  auto appDirectory = fileManager().appDirectory(appId);
  if (!appDirectory) {
    return fail(metadataError(appId, FailStep::unpack, appId + " not registered with LiveUpdateManager"));
  }
  const auto destination = *appDirectory / snapshotId;
  context.log("Moving snapshot directory to " + fileUrlText(destination));
  clearUnusableDestination(*userDefaults(), needsDownload(appId, snapshotId), appId, snapshotId,
                           destination);
  if (auto moved = fileManager().moveItem(staging, destination); !moved) {
    return fail(makeSyncError(appId, FailStep::unpack, SyncError::Reason::fileManagerError(moved.error())));
  }
  if (auto durable = makeSnapshotDurable(appId, destination, {*appDirectory, staging.parent_path()});
      !durable) {
    return fail(durable.error());
  }
  auto applied = applySnapshot(appId, snapshotId, std::to_string(build));
  if (!applied) return fail(applied.error());
  (void)fileManager().removeTemporaryItem(snapshotId);
  context.log("Time to full download " + elapsedSince(start) + "s");
  return SyncResult{std::move(applied->first), std::move(applied->second), SyncResult::Download{}};
}

}  // namespace qelvo
