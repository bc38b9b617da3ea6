#include "qelvo/live_update_manager.h"

namespace qelvo {

void LiveUpdateManager::setProgressHandler(ProgressHandler handler) {
  auto shared = handler ? std::make_shared<const ProgressHandler>(std::move(handler)) : nullptr;
  std::lock_guard lock(progressMutex_);
  progressHandler_ = std::move(shared);
}

std::shared_ptr<const LiveUpdateManager::ProgressHandler> LiveUpdateManager::progressHandler() const {
  std::lock_guard lock(progressMutex_);
  return progressHandler_;
}

}  // namespace qelvo
