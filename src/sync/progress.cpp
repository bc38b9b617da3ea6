#include "sync/progress_reporter.h"
#include "qelvo/live_update_manager.h"

namespace qelvo {

void LiveUpdateManager::setProgressHandler(ProgressHandler handler) {
  auto shared = handler ? std::make_shared<const ProgressHandler>(std::move(handler)) : nullptr;
  std::lock_guard lock(progressMutex_);
  progressHandler_ = std::move(shared);
}

std::shared_ptr<ProgressReporter> LiveUpdateManager::progressReporter(const std::string& appId) const {
  auto reporter = progress_.get(appId);
  return reporter ? *reporter : nullptr;
}

LiveUpdateManager::Outcome LiveUpdateManager::runReportedPipeline(const std::string& appId,
                                                                  std::stop_token stop) {
  std::shared_ptr<const ProgressHandler> handler;
  {
    std::lock_guard lock(progressMutex_);
    handler = progressHandler_;
  }
  if (!handler) return runPipeline(appId, stop);
  auto reporter = std::make_shared<ProgressReporter>(std::move(handler), appId);
  progress_.set(appId, reporter);
  reporter->phase(ProgressReporter::Phase::check);
  auto outcome = runPipeline(appId, stop);
  progress_.set(appId, std::nullopt);
  reporter->phase(ProgressReporter::Phase::done);
  return outcome;
}

}  // namespace qelvo
