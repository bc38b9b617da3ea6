#include "sync/sync_task.h"

#include <thread>

#include "base/sync_errors.h"

namespace qelvo {

void runOnWorkerThread(std::function<void()> work) { std::thread(std::move(work)).detach(); }

void SyncTask::start(std::function<Outcome(std::stop_token)> body, std::function<void()> finish) {
  runOnWorkerThread([this, self = shared_from_this(), body = std::move(body),
                     finish = std::move(finish)]() mutable {
    auto outcome = body(stop_.get_token());
    finish();
    publish(std::move(outcome));
  });
}

void SyncTask::publish(Outcome outcome) {
  std::vector<Continuation> continuations;
  {
    std::lock_guard lock(mutex_);
    outcome_ = std::move(outcome);
    continuations.swap(continuations_);
  }
  done_.notify_all();
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
  runOnWorkerThread([self = shared_from_this(), continuation = std::move(continuation)] {
    continuation(*self->outcome_);
  });
}

SyncTask::Outcome SyncTask::wait() {
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return outcome_.has_value(); });
  return *outcome_;
}

}  // namespace qelvo
