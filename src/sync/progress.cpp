// What a sync carries: its context, made when it starts, and its progress reports.
#include "base/logger.h"
#include "qelvo/live_update_manager.h"
#include "sync/progress_reporter.h"

namespace qelvo {

void LiveUpdateManager::SyncContext::log(const std::string& message) const {
  logger->log(logTag, message);
}

void LiveUpdateManager::setProgressHandler(ProgressHandler handler) {
  auto shared = handler ? std::make_shared<const ProgressHandler>(std::move(handler)) : nullptr;
  std::lock_guard lock(progressMutex_);
  progressHandler_ = std::move(shared);
}

LiveUpdateManager::SyncContext LiveUpdateManager::makeContext(const std::string& appId,
                                                              std::stop_token stop) const {
  std::shared_ptr<const ProgressHandler> handler;
  {
    std::lock_guard lock(progressMutex_);
    handler = progressHandler_;
  }
  const auto bounds = limits();
  return SyncContext{
      .appId = appId,
      .snapshotId = {},
      .stop = std::move(stop),
      .limits = bounds,
      .deadline = std::chrono::steady_clock::now() + bounds.maxSyncDuration,
      .progress = handler ? std::make_shared<ProgressReporter>(std::move(handler), appId) : nullptr,
      .logger = logger(),
      .logTag = logTag_,
      .workDirectory = {}};
}

LiveUpdateManager::Outcome LiveUpdateManager::runReportedPipeline(const SyncContext& context) {
  if (!context.progress) return runPipeline(context);
  context.progress->phase(ProgressReporter::Phase::check);
  auto outcome = runPipeline(context);
  context.progress->phase(ProgressReporter::Phase::done);
  return outcome;
}

}  // namespace qelvo
