// Downloads of many files at once into a staging directory, queued on the transfer
// engine as fast as it takes them: either all of them, the first failure stopping the
// others, or each on its own (patches, which a whole file can replace). A large file
// whose transfer is cut off resumes where it stopped on the next attempt.
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_set>

#include "client/download_request.h"
#include "client/live_updates_client.h"
#include "sync/progress_reporter.h"
#include "base/sync_errors.h"
#include "base/try.h"
#include "qelvo/live_update_manager.h"
#include "sync/sync_limits.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/file_system.h"
#include "retrieval/file_url.h"
#include "retrieval/partial_downloads.h"
#include "platform/host.h"

namespace qelvo {
using FailStep = SyncError::FailStep;

// From this size on, what a cut transfer received is kept for the next attempt: below
// it, asking again costs less than keeping and checking a part.
constexpr std::uint64_t kResumableFileBytes = std::uint64_t{8} << 20;

// The downloads of one file list: a window of them queued on the transfer engine at a
// time, refilled by the waiting thread as they end, and the first failure.
//
// Every file is requested as soon as the engine can take it, yet the transfers waiting
// for a connection stay few: ten thousand queued at once would hold ten thousand
// requests, callbacks and buffers in memory for nothing. Requests are made on the
// waiting thread, leaving the engine's thread to the transfers.
class DownloadGroup {
 public:
  // `independent`: a failure ends only its own download, and is remembered per index.
  DownloadGroup(std::size_t count, bool independent)
      : count_(count), remaining_(count), independent_(independent), arrived_(count, false) {}

  std::stop_token token() const { return stop_.get_token(); }
  bool independent() const { return independent_; }
  void stop() { stop_.request_stop(); }

  // Calls `start(index)` for every download in index order, never more than a window
  // running at once, until all have ended; each start leads to one `finish`. The first
  // failure, once all started downloads have ended.
  std::expected<void, Error> run(const std::function<void(std::size_t index)>& start) {
    std::unique_lock lock(mutex_);
    for (;;) {
      ended_.wait(lock, [this] { return remaining_ == 0 || canStartMore(); });
      if (remaining_ == 0) break;
      const std::size_t first = next_;
      next_ = std::min(count_, next_ + (kWindow - inFlight_));
      inFlight_ += next_ - first;
      const std::size_t end = next_;
      lock.unlock();
      for (std::size_t index = first; index < end; ++index) start(index);
      lock.lock();
    }
    if (failure_) return std::unexpected(*failure_);
    return {};
  }

  // Whether `directory` was created for an earlier file of the group: most files share
  // a directory with many others, and each is created once rather than once per file.
  bool created(const std::filesystem::path& directory) {
    std::lock_guard lock(mutex_);
    return createdDirectories_.contains(directory.native());
  }
  void rememberCreated(const std::filesystem::path& directory) {
    std::lock_guard lock(mutex_);
    createdDirectories_.insert(directory.native());
  }

  void finish(std::size_t index, std::expected<void, Error> result) {
    bool first = false;
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      arrived_[index] = result.has_value();
      if (!result && !failure_ && !independent_) {
        failure_ = std::move(result.error());
        first = true;
        // After a failure, files not yet started never are.
        remaining_ -= count_ - next_;
        next_ = count_;
      }
      --inFlight_;
      --remaining_;
      wake = remaining_ == 0 || canStartMore();
    }
    if (first) stop_.request_stop();
    if (wake) ended_.notify_one();
  }

  // Once `run` returned: whether each download ended well.
  const std::vector<bool>& arrived() const { return arrived_; }

 private:
  static constexpr std::size_t kWindow = 256;
  // Refills wait until half the window has ended, so that the waiting thread wakes once
  // per batch rather than once per file.
  static constexpr std::size_t kRefillBelow = kWindow / 2;

  bool canStartMore() const { return next_ < count_ && inFlight_ <= kRefillBelow; }

  std::stop_source stop_;
  std::mutex mutex_;
  std::condition_variable ended_;
  const std::size_t count_;
  std::size_t remaining_;  // downloads not yet ended, started or not
  std::size_t next_ = 0;
  std::size_t inFlight_ = 0;
  std::optional<Error> failure_;
  const bool independent_;
  std::vector<bool> arrived_;
  std::unordered_set<std::string> createdDirectories_;
};

std::uint64_t LiveUpdateManager::fileSizeBound(std::uint64_t /*declaredSize*/,
                                               const Limits& limits) const {
  // The size a manifest declares is not used: a publisher whose sizes are approximate
  // still works, and what arrives is bounded all the same.
  return limits.maxFileBytes;
}

std::expected<void, Error> LiveUpdateManager::downloadFileList(
    const SyncContext& context, std::vector<DownloadFileRequest> requests,
    const std::filesystem::path& staging) {
  if (requests.empty()) return {};
  auto group = std::make_shared<DownloadGroup>(requests.size(), false);
  return downloadGroup(context, requests, staging, group);
}

std::expected<std::vector<bool>, Error> LiveUpdateManager::downloadEachFile(
    const SyncContext& context, const std::vector<DownloadFileRequest>& requests,
    const std::filesystem::path& directory) {
  auto group = std::make_shared<DownloadGroup>(requests.size(), true);
  if (!requests.empty()) QELVO_TRY_VOID(downloadGroup(context, requests, directory, group));
  if (context.stop.stop_requested()) return std::unexpected(CancellationError());
  return group->arrived();
}

std::expected<void, Error> LiveUpdateManager::downloadGroup(
    const SyncContext& context, const std::vector<DownloadFileRequest>& requests,
    const std::filesystem::path& staging, const std::shared_ptr<DownloadGroup>& group) {
  const auto& appId = context.appId;
  // Files fetched each on their own are not the bundle's files: they count in no
  // progress, and they are held to the size they are declared with.
  const bool independent = group->independent();
  const auto progress = independent ? nullptr : context.progress;
  std::stop_callback forwardCancel(context.stop, [group] { group->stop(); });

  bool resumable = false;
  auto result = group->run([&](std::size_t index) {
    const auto& request = requests[index];
    auto http = makeHttpRequest(request);
    if (!http) {
      group->finish(index, std::unexpected(metadataError(
          appId, FailStep::download, "Unable to form a download URL for " + request.href)));
      return;
    }
    applyPace(*http, context);
    const auto declared = request.size.value_or(context.limits.maxFileBytes);
    http->maxBodyBytes = independent ? std::min(declared, context.limits.maxFileBytes)
                                     : fileSizeBound(declared, context.limits);
    if (request.size && *request.size >= kResumableFileBytes) {
      http->resumeFile = partialDownloadFile(platform::temporaryDirectory(), http->url.text());
      resumable = true;
    }
    context.log("Download file href " + request.href + " from " + http->url.text());
    auto failed = [appId](const FileOperationError& error) {
      return std::unexpected(
          makeSyncError(appId, FailStep::download, SyncError::Reason::fileManagerError(error)));
    };
    // The file's directory is made before its transfer starts where it can be, so that
    // the body is written there under a temporary name and taken into place by a rename
    // within it. Where it cannot, the body waits in the staging directory and taking it
    // into place meets the failure.
    auto directory = request.parentHref.empty() ? staging : staging / request.parentHref;
    if (!group->created(directory) && files::createDirectories(directory)) {
      group->rememberCreated(directory);
    }
    http->bodyDirectory = group->created(directory) ? directory : staging;
    auto moveFile = [this, &context, group, failed, directory, request, progress](
                        const std::filesystem::path& file) -> std::expected<void, Error> {
      auto target = directory / request.filename;
      context.log("Writing file href " + request.href + " from " + fileUrlText(file) + " to " +
          fileUrlText(target));
      if (!group->created(directory)) {
        if (auto created = fileManager().createDirectory(directory); !created) {
          return failed(created.error());
        }
        group->rememberCreated(directory);
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
                          [group, appId, index](std::expected<void, Error> result) {
                            if (!result) {
                              result = std::unexpected(syncErrorFromClient(
                                  appId, FailStep::download, std::move(result.error())));
                            }
                            group->finish(index, std::move(result));
                          });
  });
  // Nothing kept: the directory of parts goes (a part kept for the next attempt stays).
  if (resumable) ::rmdir(partialDownloadsDirectory(platform::temporaryDirectory()).c_str());
  return result;
}

}  // namespace qelvo
