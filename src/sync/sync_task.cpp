#include "sync/sync_task.h"

#include "sync/sync_executor.h"

namespace qelvo {

bool SyncTask::start(SyncExecutor& executor, std::function<Outcome(std::stop_token)> body,
                     std::function<void()> finish) {
  return executor.submit([self = shared_from_this(), body = std::move(body),
                          finish = std::move(finish)]() mutable {
    auto outcome = body(self->stop_.get_token());
    finish();
    // What they hold (the manager among it) goes before anyone learns the outcome, so
    // that a caller who waits for it and then lets the manager go releases it last:
    // the manager's threads are then joined by the host, not left to end on their own.
    body = nullptr;
    finish = nullptr;
    self->publish(std::move(outcome));
  });
}

void SyncTask::publish(Outcome outcome) {
  std::vector<Continuation> continuations;
  {
    std::lock_guard lock(mutex_);
    outcome_ = std::move(outcome);
    continuations.swap(continuations_);
  }
  for (auto& continuation : continuations) continuation(*outcome_);
}

void SyncTask::onComplete(Continuation continuation) {
  {
    std::lock_guard lock(mutex_);
    if (!outcome_) {
      continuations_.push_back(std::move(continuation));
      return;
    }
  }
  continuation(*outcome_);
}

}  // namespace qelvo
