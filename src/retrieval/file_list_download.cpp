// Downloads of many files at once into a staging directory: every file is queued on
// the transfer engine together; the first failure stops the others.
#include <condition_variable>
#include <mutex>

#include "client/download_request.h"
#include "client/live_updates_client.h"
#include "core/progress_reporter.h"
#include "core/sync_errors.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/file_url.h"

namespace qelvo {
namespace {

using FailStep = SyncError::FailStep;

// The outcome of a group of downloads: the first failure, once all have ended.
class DownloadGroup {
 public:
  explicit DownloadGroup(std::size_t count) : remaining_(count) {}

  std::stop_token token() const { return stop_.get_token(); }
  void stop() { stop_.request_stop(); }

  void finish(std::expected<void, Error> result) {
    bool first = false;
    bool last = false;
    {
      std::lock_guard lock(mutex_);
      if (!result && !failure_) {
        failure_ = std::move(result.error());
        first = true;
      }
      last = --remaining_ == 0;
    }
    if (first) stop_.request_stop();
    if (last) ended_.notify_all();
  }

  std::expected<void, Error> wait() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return remaining_ == 0; });
    if (failure_) return std::unexpected(*failure_);
    return {};
  }

 private:
  std::stop_source stop_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::size_t remaining_;
  std::optional<Error> failure_;
};

}  // namespace

std::expected<void, Error> LiveUpdateManager::downloadFileList(
    const std::string& appId, std::vector<DownloadFileRequest> requests,
    const std::filesystem::path& staging, std::stop_token stop) {
  if (requests.empty()) return {};
  auto group = std::make_shared<DownloadGroup>(requests.size());
  auto progress = progressReporter(appId);
  const auto idleTimeout = limits().idleTimeout;
  std::stop_callback forwardCancel(stop, [group] { group->stop(); });

  for (auto& request : requests) {
    auto http = makeHttpRequest(request);
    if (!http) {
      group->finish(std::unexpected(metadataError(
          appId, FailStep::download, "Unable to form a download URL for " + request.href)));
      continue;
    }
    http->idleTimeout = idleTimeout;
    log("Download file href " + request.href + " from " + http->url.text());
    auto moveFile = [this, appId, staging, request,
                     progress](const std::filesystem::path& file) -> std::expected<void, Error> {
      auto directory = request.parentHref.empty() ? staging : staging / request.parentHref;
      auto target = directory / request.filename;
      log("Writing file href " + request.href + " from " + fileUrlText(file) + " to " +
          fileUrlText(target));
      auto failed = [&](const FileOperationError& error) {
        return std::unexpected(
            makeSyncError(appId, FailStep::download, SyncError::Reason::fileManagerError(error)));
      };
      if (auto created = fileManager().createDirectory(directory); !created) {
        return failed(created.error());
      }
      if (progress) {
        std::error_code ec;
        auto size = std::filesystem::file_size(file, ec);
        progress->fileDone(ec ? 0 : size);
      }
      if (auto moved = fileManager().moveItem(file, target); !moved) return failed(moved.error());
      return {};
    };
    client().downloadFile(std::move(*http), std::move(moveFile), group->token(),
                          [group, appId](std::expected<void, Error> result) {
                            if (!result) {
                              result = std::unexpected(syncErrorFromClient(
                                  appId, FailStep::download, std::move(result.error())));
                            }
                            group->finish(std::move(result));
                          });
  }
  return group->wait();
}

}  // namespace qelvo
