// The zip strategy: the snapshot arrives as one archive, stored in the application
// directory and unpacked into the snapshot directory. An archive whose download was
// cut off resumes where it stopped (retrieval/partial_downloads.h).
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>

#include "client/live_updates_client.h"
#include "client/service_operations.h"
#include "sync/progress_reporter.h"
#include "base/sync_errors.h"
#include "base/try.h"
#include "qelvo/live_update_manager.h"
#include "sync/free_space.h"
#include "sync/sync_limits.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/file_operation.h"
#include "retrieval/file_system.h"
#include "retrieval/partial_downloads.h"
#include "platform/host.h"

namespace qelvo {
namespace {

using FailStep = SyncError::FailStep;

// Moves the downloaded archive to its name in the work directory.
std::expected<void, Error> placeArchive(const std::string& appId,
                                        const std::filesystem::path& downloaded,
                                        const std::filesystem::path& archive) {
  if (std::rename(downloaded.c_str(), archive.c_str()) == 0) return {};
  auto error = PlatformError::fromErrno(
      errno, "Unable to move " + downloaded.string() + " to " + archive.string());
  return std::unexpected(makeSyncError(
      appId, FailStep::download, SyncError::Reason::fileManagerError(reportedFileError(std::move(error)))));
}

}  // namespace

LiveUpdateManager::Outcome LiveUpdateManager::downloadZip(const SyncContext& context,
                                                         const LiveUpdate& liveUpdate,
                                                         const Url& url,
                                                         const std::string& snapshotId,
                                                         std::int64_t build) {
  const auto& appId = liveUpdate.appId;
  context.log("Download zip file from " + url.text());
  auto appDirectory = fileManager().appDirectory(appId);
  if (!appDirectory) {
    return std::unexpected(metadataError(appId, FailStep::download,
                                         "Application directory was not created for " + appId));
  }
  if (auto created = files::createDirectories(context.workDirectory); !created) {
    return std::unexpected(makeSyncError(
        appId, FailStep::download,
        SyncError::Reason::fileManagerError(reportedFileError(std::move(created).error()))));
  }
  const auto archive = context.archiveFile();
  const auto temporaryDirectory = platform::temporaryDirectory();
  const auto partial = partialDownloadFile(temporaryDirectory, url.text());
  // The archive's size is only known as it arrives: it is cut off at the space it may
  // take, when that is less than its bound. What an earlier attempt kept counts in both.
  QELVO_TRY(auto writable, writableSpace(context, context.workDirectory, FailStep::download));
  const auto cap =
      std::min(context.limits.maxArchiveBytes, writable + partialDownloadBytes(partial));
  if (cap == 0) return std::unexpected(noSpaceFor(context, FailStep::download, "the archive", 1, 0));
  HttpRequest request{.url = url,
                      .maxBodyBytes = cap,
                      .bodyDirectory = context.workDirectory,
                      .resumeFile = partial};
  applyPace(request, context);
  if (auto progress = context.progress) {
    progress->phase(ProgressReporter::Phase::download);
    request.onBodyProgress = [progress](std::uint64_t done, std::optional<std::uint64_t> expected) {
      progress->bytes(done, expected);
    };
  }
  auto downloaded = downloadFileAndWait(
      client(), std::move(request),
      [&appId, archive](const std::filesystem::path& file) { return placeArchive(appId, file, archive); },
      context.stop);
  // Nothing kept: the directory of parts goes (a part kept for the next attempt stays).
  ::rmdir(partialDownloadsDirectory(temporaryDirectory).c_str());
  if (!downloaded) {
    // The body of a refused request (an error page) was moved into place all the same;
    // it goes with the work directory.
    if (cap < context.limits.maxArchiveBytes && isBodyOverCap(downloaded.error())) {
      return std::unexpected(noSpaceFor(context, FailStep::download, "the archive", cap + 1, cap));
    }
    return std::unexpected(syncErrorFromClient(appId, FailStep::download, downloaded.error()));
  }
  QELVO_TRY(auto applied, completeDownload(context, snapshotId, build));
  return SyncResult{std::move(applied.first), std::move(applied.second), SyncResult::Download{}};
}

}  // namespace qelvo
