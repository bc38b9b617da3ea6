// The differential strategy: a snapshot assembled file by file in a staging directory,
// from files downloaded in parallel and unchanged files copied from the previous
// snapshot, then moved into the cache in one step.
#include "client/download_request.h"
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
#include "retrieval/file_operation.h"
#include "retrieval/file_url.h"
#include "retrieval/unchanged_files.h"
#include "retrieval/file_system.h"

namespace qelvo {
namespace {

using FailStep = SyncError::FailStep;

constexpr const char* kManifestFileName = "live-update-manifest.json";

// A manifest may only name files inside its bundle, as many and as large as an archive
// may hold, and that fit on the cache's filesystem: nothing it lists is read or written
// before all of that has been checked.
std::expected<void, Error> requireAcceptable(const LiveUpdateManager::SyncContext& context,
                                             const Manifest& manifest) {
  const auto& appId = context.appId;
  std::uint64_t total = 0;
  for (const auto& item : manifest.payload) {
    if (!isSafeRelativePath(item.href)) {
      return std::unexpected(metadataError(appId, FailStep::download,
                                           "Manifest contains an unsafe href: " + item.href));
    }
    total += std::min(item.size, context.limits.maxUnpackedBytes + 1);  // cannot overflow
  }
  const auto& limits = context.limits;
  if (manifest.payload.size() > limits.maxArchiveEntries) {
    return std::unexpected(metadataError(
        appId, FailStep::download,
        "The manifest lists " + std::to_string(manifest.payload.size()) + " files, more than " +
            std::to_string(limits.maxArchiveEntries)));
  }
  if (total > limits.maxUnpackedBytes) {
    return std::unexpected(metadataError(
        appId, FailStep::download,
        "The files of the manifest add up to more than " + std::to_string(limits.maxUnpackedBytes) +
            " bytes"));
  }
  QELVO_TRY(auto writable, writableSpace(context, context.workDirectory.parent_path(),
                                         FailStep::download));
  if (total > writable) {
    return std::unexpected(noSpaceFor(context, FailStep::download, "the bundle", total, writable));
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

// The staging directory is made before anything is fetched: a bundle with no file to
// fetch or copy (an empty one, or one whose files cannot be requested) still needs it to
// hold its manifest.
std::expected<void, Error> createStaging(const std::string& appId,
                                         const std::filesystem::path& staging) {
  if (auto created = files::createDirectories(staging); !created) {
    return std::unexpected(makeSyncError(
        appId, FailStep::unpack,
        SyncError::Reason::fileManagerError(reportedFileError(std::move(created).error()))));
  }
  return {};
}

}  // namespace

std::expected<LiveUpdateManager::FetchedManifest, Error> LiveUpdateManager::fetchManifest(
    const SyncContext& context, const Url& url) {
  const auto& appId = context.appId;
  auto fetched = client().fetchManifest(url, context.stop, manifestExchangeLimits(context));
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
  QELVO_TRY(auto fetched, fetchManifest(context, url));
  QELVO_TRY_VOID(requireAcceptable(context, fetched.manifest));
  context.log("Manifest for snapshot " + snapshotId + " fetched.");

  std::vector<ManifestItem> unchanged;
  std::vector<ManifestItem> changed;
  for (const auto& item : fetched.manifest.payload) {
    (previousManifest.payload.contains(item) ? unchanged : changed).push_back(item);
  }

  // Whatever a failure leaves in the staging directory goes with the sync's work
  // directory.
  const auto staging = context.stagingDirectory();
  QELVO_TRY_VOID(createStaging(appId, staging));
  const auto& progress = context.progress;
  startPhase(progress, ProgressReporter::Phase::download, changed);
  QELVO_TRY(auto whole, applyPatches(context, std::move(changed), fetched.url, previousDirectory,
                                     previousManifest, staging));
  QELVO_TRY_VOID(downloadFileList(context, requestsFor(whole, fetched.url), staging));
  context.log("Total time to download new differential files " + elapsedSince(start));
  context.log("Copying unchanged files to new snapshot directory");
  startPhase(progress, ProgressReporter::Phase::copy, unchanged);
  // The copies run on several threads; their lines and their failure are reported here
  // in list order, as a loop copying one file after another would report them.
  auto copyFailure = copyUnchangedFiles(
      unchanged, previousDirectory, staging, context.stop,
      context.limits.shareUnchangedFiles ? UnchangedFileMode::share : UnchangedFileMode::copy);
  if (copyFailure && context.stop.stop_requested()) return std::unexpected(CancellationError());
  for (std::size_t i = 0; i < unchanged.size(); ++i) {
    context.log("Copying " + unchanged[i].href);
    if (copyFailure && copyFailure->item == i) {
      return std::unexpected(makeSyncError(appId, FailStep::unpack,
                                           SyncError::Reason::fileManagerError(
                                               reportedFileError(std::move(copyFailure->error)))));
    }
    if (progress) progress->fileDone(unchanged[i].size);
  }
  context.log("Completed copying unchanged files to new snapshot directory in " +
              elapsedSince(start));

  if (!fileManager().appDirectory(appId)) {
    return std::unexpected(
        metadataError(appId, FailStep::unpack, appId + " not registered with LiveUpdateManager"));
  }
  QELVO_TRY_VOID(writeManifest(context, staging, fetched.manifest));
  // A failed move is the file layer's error as it is on this path.
  QELVO_TRY_VOID(installSnapshot(context, staging, snapshotId));
  context.log("Copied differential update to live update directory");
  QELVO_TRY(auto applied, applySnapshot(appId, snapshotId, std::to_string(build)));
  context.log("Total time to differential update " + elapsedSince(start));
  return SyncResult{std::move(applied.first), std::move(applied.second), SyncResult::Download{}};
}

LiveUpdateManager::Outcome LiveUpdateManager::downloadFullDifferential(
    const SyncContext& context, const LiveUpdate& liveUpdate, const Url& url,
    const std::string& snapshotId, std::int64_t build) {
  const auto& appId = liveUpdate.appId;
  context.log("Existing manifest not found, performing full download");
  const double start = secondsSince1970();
  auto fail = [&](Error error) -> Outcome {
    context.log("Time to full download " + elapsedSince(start) + "s");
    return std::unexpected(std::move(error));
  };

  auto fetched = fetchManifest(context, url);
  if (!fetched) return fail(fetched.error());
  if (auto acceptable = requireAcceptable(context, fetched->manifest); !acceptable) {
    return fail(acceptable.error());
  }

  const auto staging = context.stagingDirectory();
  if (auto created = createStaging(appId, staging); !created) return fail(created.error());
  std::vector<ManifestItem> items(fetched->manifest.payload.begin(), fetched->manifest.payload.end());
  startPhase(context.progress, ProgressReporter::Phase::download, items);
  if (auto downloaded = downloadFileList(context, requestsFor(items, fetched->url), staging);
      !downloaded) {
    return fail(downloaded.error());
  }
  if (auto written = writeManifest(context, staging, fetched->manifest); !written) {
    return fail(written.error());
  }
  auto appDirectory = fileManager().appDirectory(appId);
  if (!appDirectory) {
    return fail(metadataError(appId, FailStep::unpack, appId + " not registered with LiveUpdateManager"));
  }
  context.log("Moving snapshot directory to " + fileUrlText(*appDirectory / snapshotId));
  auto installed = installSnapshot(context, staging, snapshotId);
  if (!installed) return fail(fileErrorOfStep(appId, FailStep::unpack, std::move(installed).error()));
  auto applied = applySnapshot(appId, snapshotId, std::to_string(build));
  if (!applied) return fail(applied.error());
  context.log("Time to full download " + elapsedSince(start) + "s");
  return SyncResult{std::move(applied->first), std::move(applied->second), SyncResult::Download{}};
}

}  // namespace qelvo
